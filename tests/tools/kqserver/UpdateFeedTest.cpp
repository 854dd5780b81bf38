#include "KqServerProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace {

class UpdateFeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.ErrorText().toStdString(); }
  bool Put(const QString& relative, const QByteArray& bytes) const {
    const QString path = QDir(server_.DataDir()).filePath(QStringLiteral("updates/") + relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
  }
  KqServerProcess::Reply Get(const QByteArray& target) const {
    return server_.Exchange("GET " + target + " HTTP/1.0\r\nHost: x\r\n\r\n");
  }
  // The version list as the upload control asks for it: a form post with an empty account.
  pugi::xml_document List(const QString& query = {}) const {
    const QByteArray body =
        "--Qu1llbox5_Xu02=$\r\nContent-Disposition: form-data;name=\"account\"\r\n\r\n\r\n"
        "--Qu1llbox5_Xu02=$\r\nContent-Disposition: form-data;name=\"ver\"\r\n\r\n2.100603\r\n"
        "--Qu1llbox5_Xu02=$--";
    const auto reply = server_.Post(QStringLiteral("/version_ctrl/clipferry/verinfo.php") + query,
                                    body, "multipart/form-data; boundary=Qu1llbox5_Xu02=$");
    EXPECT_EQ(reply.status, 200);
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_buffer(reply.body.constData(), static_cast<size_t>(reply.body.size())))
        << reply.body.toStdString();
    return doc;
  }
  static std::string Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
  }

  KqServerProcess server_;
};

TEST_F(UpdateFeed, ServesTheListsWithTheDigestsOfThePresentFiles) {
  EXPECT_TRUE(List().child("verInfo").child("list")) << "no list yet: an empty one";

  ASSERT_TRUE(Put(QStringLiteral("verinfo.xml"),
                  "<verInfo><list>"
                  "<item><ver>2.5</ver><path>/version_ctrl/clipferry/version/2.5</path></item>"
                  "<item><ver>2.4</ver><path>/version_ctrl/clipferry/version/2.4</path></item>"
                  "<item><ver>2.3</ver><path>/version_ctrl/clipferry/version/2.3</path>"
                  "<sha256>given</sha256></item></list></verInfo>"));
  ASSERT_TRUE(Put(QStringLiteral("verinfo_draft.xml"),
                  "<verInfo><list><item><ver>9</ver></item></list></verInfo>"));
  ASSERT_TRUE(Put(QStringLiteral("version/2.5/patch.zip"), "patch 2.5"));
  ASSERT_TRUE(Put(QStringLiteral("version/2.3/patch.zip"), "patch 2.3"));
  ASSERT_TRUE(Put(QStringLiteral("version/updater_manifest.zip"), "updater"));

  const pugi::xml_document doc = List();
  const pugi::xml_node root = doc.child("verInfo");
  auto items = root.child("list").children("item").begin();
  EXPECT_EQ(items->child("sha256").text().get(), Sha256("patch 2.5"));
  ++items;
  EXPECT_FALSE(items->child("sha256")) << "no patch, no digest";
  ++items;
  EXPECT_STREQ(items->child("sha256").text().get(), "given");
  EXPECT_EQ(root.find_child_by_attribute("package", "name", "updater_manifest.zip")
                .attribute("sha256")
                .value(),
            Sha256("updater"));
  EXPECT_FALSE(root.find_child_by_attribute("package", "name", "updater.zip"));

  EXPECT_STREQ(List(QStringLiteral("?draft=1"))
                   .child("verInfo")
                   .child("list")
                   .child("item")
                   .child_value("ver"),
               "9");
}

TEST_F(UpdateFeed, ServesFilesOnlyFromTheUpdatesFolder) {
  ASSERT_TRUE(Put(QStringLiteral("version/2.5/patch.zip"), QByteArray(200000, 'p')));
  const auto patch = Get("/version_ctrl/clipferry/version/2.5/patch.zip");
  EXPECT_EQ(patch.status, 200);
  EXPECT_EQ(patch.body, QByteArray(200000, 'p'));

  for (const QByteArray& target :
       {QByteArray("/version_ctrl/clipferry/version/2.4/patch.zip"),
        QByteArray("/version_ctrl/clipferry/../kqserver.db"),
        QByteArray("/version_ctrl/clipferry/%2e%2e/kqserver.db"),
        QByteArray("/version_ctrl/clipferry/version/..%2f..%2fkqserver.db"),
        QByteArray("/version_ctrl/clipferry/version"), QByteArray("/version_ctrl/clipferry/")}) {
    const auto reply = Get(target);
    EXPECT_EQ(reply.status, 404) << target.toStdString();
    EXPECT_FALSE(reply.body.contains("SQLite")) << target.toStdString();
  }
}

}  // namespace
