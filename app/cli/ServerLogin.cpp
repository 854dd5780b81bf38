#include "app/cli/ServerLogin.h"

#include "app/dialogs/FolderReply.h"
#include "app/services/MavoControl.h"
#include "app/services/PasswordDigest.h"
#include "app/services/modLanguage.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// The control answers or times out on its own; this only keeps a broken control from hanging.
constexpr int kReplyWaitMs = 10 * 60 * 1000;

void Fail(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

}  // namespace

bool LogInToServer(const QString& address, const QString& account, const QString& password,
                   FolderReply* reply, bool* sentDigest) {
  QWidget host;
  QString why;
  std::unique_ptr<MavoControl> control = MavoControl::Create(&host, &why);
  if (!control) {
    Fail(QStringLiteral("The upload control cannot be started: ") + why);
    return false;
  }
  const QString exParam = QStringLiteral("tool=v.") + GetResString(QStringLiteral("frmUpload"),
                                                                   QStringLiteral("frmVersion"),
                                                                   QStringLiteral("2.100603"));
  *sentDigest = true;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const QString sent = *sentDigest ? PasswordDigest(password) : password;
    if (sent.isEmpty()) {
      Fail(QStringLiteral("The password could not be digested."));
      return false;
    }
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(control.get(), &UploadControl::OnGetFolderFinished, &loop, &QEventLoop::quit);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!control->GetFolder(
            QStringLiteral("http://") + address + QStringLiteral("/mavo/getfolder/"), account, sent,
            exParam)) {
      Fail(GetResString(QStringLiteral("frmUpload"), QStringLiteral("msg_0")));
      return false;
    }
    guard.start(kReplyWaitMs);
    loop.exec();
    if (!guard.isActive()) {
      Fail(GetResString(QStringLiteral("frmUpload"), QStringLiteral("mavoNoResponse"),
                        QStringLiteral("The server did not answer.")));
      return false;
    }
    *reply = FolderReply::Read(control->Response(), *sentDigest);
    if (reply->outcome() == FolderReply::Outcome::RetryPlainPassword && *sentDigest) {
      *sentDigest = false;
      continue;
    }
    break;
  }
  if (!reply->ok()) {
    Fail(
        reply->MessageText(GetResString(QStringLiteral("frmUpload"), QStringLiteral("mavoError"))));
    return false;
  }
  return true;
}
