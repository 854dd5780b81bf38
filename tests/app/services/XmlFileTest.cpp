#include "app/services/XmlFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(XmlFile, LineBreaksGoBetweenAdjacentTagsAndTabsGo) {
  EXPECT_EQ(BreakXmlLines("<a><b>x\ty</b><c/></a>"),
            QByteArray("<a>\r\n<b>xy</b>\r\n<c/>\r\n</a>"));
  EXPECT_EQ(BreakXmlLines("<a>1 > 0</a>"), QByteArray("<a>1 > 0</a>"));
}

TEST(XmlFile, SavingReplacesTheFileWholeAndKeepsTheBreaks) {
  QTemporaryDir dir;
  const QString path = dir.filePath("p.xml");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string("<p><server><url>a&amp;b</url></server></p>"));
  ASSERT_TRUE(SaveXmlWithLineBreaks(doc, path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(),
            QByteArray("<p>\r\n<server>\r\n<url>a&amp;b</url>\r\n</server>\r\n</p>"));
  pugi::xml_document back;
  EXPECT_TRUE(LoadXmlFile(path, &back));
  EXPECT_STREQ(back.child("p").child("server").child_value("url"), "a&b");
}

TEST(XmlFile, AtomicWriteCanRestrictTheFileToItsOwner) {
  QTemporaryDir dir;
  const QString path = dir.filePath("secret.xml");
  ASSERT_TRUE(WriteFileAtomically(path, "<a/>", true));
  const QFile::Permissions perms = QFileInfo(path).permissions();
  EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther));
  EXPECT_FALSE(WriteFileAtomically(dir.filePath("missing/x.xml"), "<b/>"));
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));
}

}  // namespace
