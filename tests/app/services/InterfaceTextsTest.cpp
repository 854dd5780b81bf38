// What the windows show in each language: the English interface holds no Chinese, and every
// character either language file can show has a glyph in the fonts installed here.

#include "TestProgramFolder.h"
#include "app/dialogs/DialogShared.h"
#include "app/dialogs/frmAdd.h"
#include "app/dialogs/frmAddBatch.h"
#include "app/dialogs/frmConfirm.h"
#include "app/dialogs/frmCustomBps.h"
#include "app/queue/QueueGridModel.h"
#include "app/queue/UploadQueue.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/modLanguage.h"
#include "tests/app/queue/QueueTestJobs.h"
#include "ui_frmUpload.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyledItemDelegate>

#include <set>

#include <gtest/gtest.h>

namespace {

bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x2FFFF);
}

// Every text a user can read in the window: title, captions, boxes, lists, headers, tips.
QStringList VisibleTexts(QWidget& window) {
  QStringList texts{window.windowTitle()};
  for (QWidget* w : window.findChildren<QWidget*>()) {
    texts << w->toolTip();
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(w)) texts << frame->title();
    if (auto* box = qobject_cast<QLineEdit*>(w)) texts << box->text() << box->placeholderText();
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(w); view && view->model()) {
      const QAbstractItemModel& model = *view->model();
      for (int c = 0; c < model.columnCount(); ++c) {
        texts << model.headerData(c, Qt::Horizontal).toString();
        for (int r = 0; r < model.rowCount(); ++r) {
          const QVariant value = model.index(r, c).data();
          auto* delegate =
              qobject_cast<QStyledItemDelegate*>(view->itemDelegateForIndex(model.index(r, c)));
          texts << (delegate ? delegate->displayText(value, QLocale()) : value.toString());
        }
      }
    }
  }
  return texts;
}

class InterfaceTexts : public testing::Test {
 protected:
  void SetUp() override {
    DialogShared::Instance().Reset();
    previous_ = SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  }
  void TearDown() override {
    UseLanguage(QString());
    SetMessageHandler(previous_);
    DialogShared::Instance().Reset();
  }
  TestProgramFolder folder_;
  MessageHandler previous_;
};

TEST_F(InterfaceTexts, EnglishWindowsShowNoChinese) {
  ASSERT_TRUE(QFile::exists(folder_.filePath(QStringLiteral("res.en.xml"))));
  UseLanguage(QStringLiteral("en"));
  ASSERT_EQ(LanguageInUse(), QStringLiteral("en"));
  ASSERT_TRUE(folder_.write(
      "project.xml",
      "<?xml version=\"1.0\"?><clipferry ver=\"2.120222\"><queue><file><fileName>a.mp4</fileName>"
      "<title>t</title><Author>me</Author><state></state><path>/v/a.mp4</path>"
      "<duration>0:01:00</duration><secDuration>60</secDuration><videoWidth>640</videoWidth>"
      "<videoHeight>360</videoHeight><vBitRate>500k</vBitRate><aBitRate>64k</aBitRate>"
      "<Url>srv</Url><account>a</account><password>p</password><folderID>3</folderID>"
      "<contentID>0</contentID><folderName>F</folderName><sysVer></sysVer>"
      "<bEncPassword>False</bEncPassword><dstCvtType>0</dstCvtType><dstResType>0</dstResType>"
      "<dstPostfix></dstPostfix><srcVideoWidth>640</srcVideoWidth>"
      "<srcVideoHeight>360</srcVideoHeight><customBps>0</customBps>"
      "<bInterlaced>False</bInterlaced><fileSize>10</fileSize>"
      "<dateLastModified>2026-01-01T10:00:00</dateLastModified></file></queue></clipferry>"));

  frmUpload upload;
  upload.RunStartupTick();
  ASSERT_EQ(upload.grid().rowCount(), 1);
  ASSERT_TRUE(cf::testing::SetState(upload.grid().store(), "/v/a.mp4", "Transfering"));
  cf::UploadQueue queue;
  frmAdd add(queue);
  frmAddBatch batch(queue);
  frmConfirm confirm;
  confirm.SetFile(QStringLiteral("/v/a.mp4"));
  frmCustomBps bandwidth(400, 60, 0, {});
  for (QWidget* window :
       std::initializer_list<QWidget*>{&upload, &add, &batch, &confirm, &bandwidth}) {
    for (const QString& text : VisibleTexts(*window)) {
      for (const char32_t c : text.toUcs4()) {
        EXPECT_FALSE(IsCjk(c)) << window->objectName().toStdString() << ": " << text.toStdString();
      }
    }
  }
  // The running row reads in words, while the queue keeps the stored state.
  const QStringList texts = VisibleTexts(upload);
  EXPECT_TRUE(texts.contains(QStringLiteral("Uploading")));
  EXPECT_EQ(upload.grid().text(1, cf::kColState), QStringLiteral("Transfering"));
}

// The fonts of this machine can draw both interfaces: each character of either language file is
// in the default font or in a font that Qt lists for Traditional Chinese.
TEST_F(InterfaceTexts, InstalledFontsCoverEveryCharacterOfBothLanguages) {
  std::set<char32_t> characters;
  for (const char* name : {"res.en.xml", "res.zh_TW.xml"}) {
    QFile file(folder_.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    for (const char32_t c : QString::fromUtf8(file.readAll()).toUcs4()) {
      if (c > 0x20) characters.insert(c);
    }
  }
  ASSERT_GT(characters.size(), 300u);
  const QStringList chineseFamilies = QFontDatabase::families(QFontDatabase::TraditionalChinese);
  ASSERT_FALSE(chineseFamilies.isEmpty()) << "no font for Traditional Chinese is installed";
  std::vector<QFontMetrics> fonts{QFontMetrics(QFont())};
  for (const QString& family : chineseFamilies) fonts.emplace_back(QFont(family));
  int missing = 0;
  for (const char32_t c : characters) {
    const bool drawn = std::any_of(fonts.begin(), fonts.end(),
                                   [c](const QFontMetrics& font) { return font.inFontUcs4(c); });
    if (!drawn && ++missing < 20) ADD_FAILURE() << "no glyph for U+" << std::hex << uint32_t(c);
  }
  EXPECT_EQ(missing, 0);
}

}  // namespace
