// mavo's video-sharing requests: their command lines, and a run against the reference server's
// service emulation with the login over TLS.

#include "tests/platform/inet/TestCertificates.h"
#include "tests/support/KqServerProcess.h"
#include "tools/mavo/MavoCommand.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(MavoSharing, CommandLinesOfTheSharingRequestsAreChecked) {
  struct Case {
    QStringList words;
    bool ok;
    MavoCommand::Kind kind;
    int cancelAt;
  };
  const Case cases[] = {
      {{"login", "u", "p"}, true, MavoCommand::Kind::kLogin, -1},
      {{"login", "u"}, false, MavoCommand::Kind::kLogin, -1},
      {{"categories"}, true, MavoCommand::Kind::kCategories, -1},
      {{"categories", "x"}, false, MavoCommand::Kind::kCategories, -1},
      {{"putyoutube", "Education", "T", "k", "d", "/v.wmv"},
       true,
       MavoCommand::Kind::kPutYouTube,
       -1},
      {{"putyoutube", "Education", "T", "k", "d", "/v.wmv", "--cancel-at", "40"},
       true,
       MavoCommand::Kind::kPutYouTube,
       40},
      {{"putyoutube", "Education", "T", "k", "/v.wmv"}, false, MavoCommand::Kind::kPutYouTube, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.join(' ').toStdString());
    std::vector<MavoCommand> commands;
    QString error;
    EXPECT_EQ(MavoCommand::ParseAll(c.words, &commands, &error), c.ok) << error.toStdString();
    if (!c.ok) {
      EXPECT_FALSE(error.isEmpty());
      continue;
    }
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].kind, c.kind);
    EXPECT_EQ(commands[0].cancelAt, c.cancelAt);
  }
}

TEST(MavoSharing, LoginCategoriesAndUploadAgainstTheReferenceService) {
  QTemporaryDir folder;
  TestCertificates certificates;
  std::string error;
  ASSERT_TRUE(
      TestCertificates::Make(folder.path().toStdString(), {}, {"127.0.0.1"}, &certificates, &error))
      << error;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({"--init-demo", "--sharing-tls", "127.0.0.1:0", "--sharing-cert",
                            QString::fromStdString(certificates.certFile), "--sharing-key",
                            QString::fromStdString(certificates.keyFile)}))
      << server.ErrorText().toStdString();
  const QRegularExpression portPattern(QStringLiteral("tlsPort=\"(\\d+)\""));
  const auto port = portPattern.match(QString::fromUtf8(server.AdminGet("/admin/sharing")));
  ASSERT_TRUE(port.hasMatch());
  {
    // mavo runs with this process's isolated config folder, so it reads these.
    QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
    settings.setValue("clipFerry/sharingLoginHost", "127.0.0.1:" + port.captured(1));
    settings.setValue("clipFerry/sharingTrustFile", QString::fromStdString(certificates.caFile));
    settings.setValue("clipFerry/sharingDataHost", server.BaseUrl());
    settings.setValue("clipFerry/sharingUploadHost", server.BaseUrl());
  }
  const QString video = folder.filePath("talk.wmv");
  QFile file(video);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(700000, 'v'));
  file.close();

  QProcess mavo;
  mavo.start(QStringLiteral(CF_MAVO_PROGRAM),
             {"login", "demo", "wrong", "+", "login", "demo", "demo", "+", "categories", "+",
              "putyoutube", "Science", "Light & <shadow>", "optics", "A talk", video});
  ASSERT_TRUE(mavo.waitForFinished(120000));
  // The refused first login makes the run fail; the requests after it still run.
  EXPECT_EQ(mavo.exitCode(), 1) << mavo.readAllStandardError().toStdString();
  const QStringList lines =
      QString::fromUtf8(mavo.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 6) << lines.join('\n').toStdString();
  EXPECT_EQ(lines[0], "ExecStatus 2");
  EXPECT_EQ(lines[1], "ExecStatus 1");
  EXPECT_EQ(lines[2], "ExecStatus 1");
  EXPECT_TRUE(lines[3].contains("term=\"Science\"")) << lines[3].toStdString();
  EXPECT_TRUE(lines.contains("progress 100")) << lines.join('\n').toStdString();
  const qsizetype finished = lines.indexOf("OnPutFileFinished");
  ASSERT_GE(finished, 0);
  ASSERT_LT(finished + 1, lines.size());
  EXPECT_TRUE(lines[finished + 1].contains("<yt:videoid>1</yt:videoid>"))
      << lines[finished + 1].toStdString();
  EXPECT_TRUE(server.AdminGet("/admin/sharing").contains("title=\"Light &amp; &lt;shadow"));
}

}  // namespace
