#include "app/queue/JobRun.h"

#include "app/project/KqLibrary.h"
#include "app/queue/MediaStoreCheck.h"
#include "app/queue/ProjectSlides.h"
#include "app/queue/VersionReply.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QFileInfo>

// The steps of a recorded project between the server's answer and the packing.
namespace cf {

void JobRun::OnProjectReply(const VersionReply& reply) {
  const Outcome quota = reply.CheckFolderQuota(workFolder_);
  if (!quota.ok()) {
    Finish(quota);
    return;
  }
  const QString overwrite = reply.overwrite();
  if (overwrite == QLatin1String("1")) {
    // A project keeps its content number in its folder; the server asking means the old content
    // is gone or taken, so the project goes up as new content.
    contentNumber_ = QStringLiteral("0");
  } else if (overwrite == QLatin1String("2") || overwrite == QLatin1String("3")) {
    Finish(VersionReply::RefuseTarget(overwrite));
    return;
  }
  PassGate(Gate::BeforeRecheck, [this] { CheckStore(); });
}

void JobRun::CheckStore() {
  SetPhase(Phase::CheckingStore);
  library_ = std::make_shared<KqLibrary>();
  if (!library_->Load(project_.version)) library_.reset();
  const QString store = JoinPath(workFolder_, QLatin1String(ProjectSlides::kMediaStore));
  if (!QFileInfo::exists(store)) {
    MakeSlidesAndUpload();
    return;
  }
  const QString failed = GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgVerifyKqErr"),
                                      QStringLiteral("Verify media.kq error!"));
  // Without its library the store cannot be shown to be whole, and a damaged one must not go up.
  if (!library_) {
    Finish(Outcome::Fail(failed));
    return;
  }
  emit statusChanged(GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgVerifyWholeKq"),
                                  QStringLiteral("Verifying whole \"media.kq\". Please wait.")));
  storeCheck_ = new MediaStoreCheck(this);
  connect(storeCheck_, &MediaStoreCheck::progress, this, [this](qint64 elapsedMs) {
    emit progress(path_, Phase::CheckingStore, elapsedMs, 0, 0, 0);
  });
  connect(storeCheck_, &MediaStoreCheck::finished, this, [this, failed](bool whole) {
    if (stop_.cancelled()) {
      Finish(Outcome::Stop());
    } else if (!whole) {
      Finish(Outcome::Fail(failed));
    } else {
      MakeSlidesAndUpload();
    }
  });
  storeCheck_->Start(library_, store);
}

void JobRun::MakeSlidesAndUpload() {
  if (stop_.cancelled()) {
    Finish(Outcome::Stop());
    return;
  }
  SetPhase(Phase::MakingSlides);
  if (library_) {
    ProjectSlides slides(workFolder_, project_, *library_, slideWidth_, slideHeight_,
                         [this](const QString& text) { emit statusChanged(text); });
    slides.Create();
  }
  PackAndUpload(true);
}

}  // namespace cf
