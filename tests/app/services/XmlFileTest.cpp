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

// Paths walk below the document element; setters never invent elements the template lacks.
TEST(XmlFile, PathsAndSettersLeaveMissingElementsAlone) {
  pugi::xml_document doc;
  ASSERT_TRUE(LoadXmlText("<r><quota><total>5</total></quota><quota><free>9</free></quota></r>",
                          &doc));
  EXPECT_EQ(ValueByPath(doc, "quota.total"), QStringLiteral("5"));
  EXPECT_EQ(ValueByPath(doc, "quota.free", "none"), QStringLiteral("none"));
  EXPECT_EQ(ValueByPath(doc, "r.quota", "none"), QStringLiteral("none"));
  EXPECT_EQ(ValueByPath(doc, "", "none"), QStringLiteral("none"));

  const pugi::xml_node quota = FindByPath(doc, "quota");
  EXPECT_TRUE(SetChildText(quota, "total", "7"));
  EXPECT_FALSE(SetChildText(quota, "maxsize", "1"));
  EXPECT_FALSE(SetChildText(FindByPath(doc, "nothing"), "total", "1"));
  EXPECT_EQ(ChildText(quota, "total"), QStringLiteral("7"));
  EXPECT_EQ(ChildText(quota, "maxsize"), QString());

  const pugi::xml_node value = AppendElement(quota, "value", "", "id");
  EXPECT_TRUE(value.attribute("id"));
  EXPECT_EQ(XmlText(doc),
            QByteArray("<r><quota><total>7</total><value id=\"\" /></quota><quota><free>9</free>"
                       "</quota></r>"));
  EXPECT_FALSE(LoadXmlText("<r><unclosed></r>", &doc));
  EXPECT_FALSE(doc.document_element());
}

}  // namespace
