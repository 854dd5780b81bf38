#include "app/updater/frmGetVerList.h"

#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowMavo.h"
#include "app/services/XmlFile.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"
#include "app/updater/modUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pugixml.hpp>

namespace {

const QString kSettings = QString::fromLatin1(kSettingsSection);

}  // namespace

frmGetVerList::frmGetVerList(QWidget* owner, QString url, QString ownVersion,
                             std::unique_ptr<UploadControl> control)
    : QWidget(owner, Qt::Window),
      url_(std::move(url)),
      ownVersion_(std::move(ownVersion)),
      mavo_(std::move(control)) {
  setAttribute(Qt::WA_DeleteOnClose);
  // Never seen: it only hosts the control while the list is fetched.
  resize(1, 1);
  move(-1, 0);
  tmrStart_.setSingleShot(true);
  tmrStart_.setInterval(10);
  connect(&tmrStart_, &QTimer::timeout, this, &frmGetVerList::tmrStart_Timer);
  tmrStart_.start();
}

frmGetVerList::~frmGetVerList() = default;

void frmGetVerList::End() {
  if (ended_) return;
  ended_ = true;
  emit done();
  close();
}

void frmGetVerList::tmrStart_Timer() {
  tmrStart_.stop();
  if (!mavo_) {
    QString error;
    mavo_ = CreateWindowMavo(this, &error);
    if (!mavo_) {
      qWarning("No version list this time: %s", qPrintable(error));
      End();
      return;
    }
  }
  connect(mavo_.get(), &UploadControl::OnGetFolderFinished, this,
          &frmGetVerList::mavo_GetFolderFinished);
  if (!mavo_->GetFolder(url_, QString(), QString(), QStringLiteral("ver=") + ownVersion_)) End();
}

void frmGetVerList::mavo_GetFolderFinished() {
  SaveAnswer(mavo_->Response());
  End();
}

void frmGetVerList::SaveAnswer(const QString& response) {
  const QString previous =
      ReadPlainSetting(kSettings, QString::fromLatin1(kVerListPathKey), QString());
  const QByteArray bytes = response.toUtf8();
  pugi::xml_document doc;
  if (!doc.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()), pugi::parse_default,
                       pugi::encoding_utf8)) {
    return;
  }
  // A refusal, whether from the server or from the control, is not a list.
  if (!doc.document_element() ||
      doc.select_node("//errInfo[string-length(normalize-space()) > 0]")) {
    return;
  }
  QString path;
  do {
    path = JoinPath(QDir::tempPath(), QString::fromLatin1(kListPrefix) + FreshTempName());
  } while (QFileInfo::exists(path));
  if (!WriteFileAtomically(path, XmlText(doc))) {
    ShowMessage(QStringLiteral("Cannot write the version list to %1.").arg(path),
                GetResString(QStringLiteral("frmGetVerList"), QStringLiteral("msgGetVerListFail"),
                             QStringLiteral("Failed to get update info!")),
                MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  WritePlainSetting(kSettings, QString::fromLatin1(kVerListPathKey), path);
  // The setting is only ever the program's own list; anything else it might name is left alone.
  if (!previous.isEmpty() && previous != path &&
      QFileInfo(previous).fileName().startsWith(QLatin1String(kListPrefix))) {
    DeleteFileForce(previous);
  }
}
