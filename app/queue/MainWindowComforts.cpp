#include "app/queue/MainWindowComforts.h"

#include "app/media/RunLog.h"
#include "app/queue/ProgramIdentity.h"
#include "app/queue/QueueFile.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/WindowPlace.h"
#include "app/services/modLanguage.h"
#include "ui_frmUpload.h"

#include <QComboBox>
#include <QMessageBox>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QUrl>

namespace {

const QString kSection = QStringLiteral("frmUpload");
const QString kSettings = QString::fromLatin1(kSettingsSection);
const QString kLanguageKey = QStringLiteral("language");

QString Res(const QString& key, const QString& fallback) {
  return GetResString(kSection, key, fallback);
}

// The state column keeps the stored state texts ("Transfering" is compared and saved as it is);
// only what the grid paints is the localized name.
class StateNameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& value, const QLocale& locale) const override {
    const QString state = value.toString();
    if (!cf::StateFromText(state)) return QStyledItemDelegate::displayText(value, locale);
    return Res(QStringLiteral("state") + state, state);
  }
};

// Puts each value in place of the next "%s", in order.
QString FillIn(QString text, const QStringList& values) {
  qsizetype from = 0;
  for (const QString& value : values) {
    const qsizetype at = text.indexOf(QLatin1String("%s"), from);
    if (at < 0) break;
    text.replace(at, 2, value);
    from = at + value.size();
  }
  return text;
}

}  // namespace

MainWindowComforts::MainWindowComforts(frmUpload& window) : QObject(&window), window_(window) {
  Ui::frmUpload& ui = window.form();
  ui.gridQueue->setItemDelegateForColumn(cf::kColState - 1, new StateNameDelegate(ui.gridQueue));
  FillLanguages();
  connect(ui.cboLanguage, &QComboBox::activated, this, &MainWindowComforts::LanguageChosen);
  connect(ui.cmdAbout, &QPushButton::clicked, this, &MainWindowComforts::ShowAbout);
  RememberWindowPlace(&window);
}

QString MainWindowComforts::LanguageSetting() {
  return ReadPlainSetting(kSettings, kLanguageKey, QString());
}

void MainWindowComforts::FillLanguages() {
  QComboBox* box = window_.form().cboLanguage;
  box->clear();
  box->addItem(Res(QStringLiteral("langAuto"), QStringLiteral("Automatic")), QString());
  box->addItem(Res(QStringLiteral("langEnglish"), QStringLiteral("英文 (English)")),
               QStringLiteral("en"));
  box->addItem(Res(QStringLiteral("langChinese"), QStringLiteral("繁體中文")),
               QStringLiteral("zh_TW"));
  const int current = box->findData(LanguageSetting());
  box->setCurrentIndex(current < 0 ? 0 : current);
}

void MainWindowComforts::LanguageChosen(int index) {
  const QString language = window_.form().cboLanguage->itemData(index).toString();
  if (language == LanguageSetting()) return;
  WritePlainSetting(kSettings, kLanguageKey, language);
  ShowMessage(Res(QStringLiteral("msgLanguageNextStart"),
                  QStringLiteral("The new language is shown from the next start.")),
              QString(), MsgButtons::Ok, MsgIcon::Information);
}

QString MainWindowComforts::AboutText() {
  const QString folder = ProgramFolder();
  const QString readme = JoinPath(folder, QStringLiteral("README.md"));
  const QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  return FillIn(Res(QStringLiteral("msgAbout"),
                    QStringLiteral("ClipFerry %s\n\nQueue: %s\nLog: %s\nSettings: %s\nREADME: %s")),
                {ProgramIdentity::Version(), cf::QueueFile::PathIn(folder),
                 JoinPath(folder, QString::fromLatin1(RunLog::kFileName)), settings.fileName(),
                 QUrl::fromLocalFile(readme).toString()});
}

void MainWindowComforts::ShowAbout() {
  QMessageBox box(QMessageBox::Information,
                  Res(QStringLiteral("ttlAbout"), QStringLiteral("About ClipFerry")), QString(),
                  QMessageBox::Ok, &window_);
  // Rich text for the README link; the paths are escaped so no name is read as markup.
  QString html = AboutText().toHtmlEscaped();
  const QString link = QUrl::fromLocalFile(JoinPath(ProgramFolder(), QStringLiteral("README.md")))
                           .toString()
                           .toHtmlEscaped();
  html.replace(link, QStringLiteral("<a href=\"%1\">%1</a>").arg(link));
  html.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
  box.setTextFormat(Qt::RichText);
  box.setText(html);
  box.setTextInteractionFlags(Qt::TextBrowserInteraction);
  box.exec();
}
