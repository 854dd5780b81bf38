// mavo against the reference server: the control created through the component layer, as the
// GUI program creates it, talking to a real lecture-video server.

#include "tests/support/KqServerProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

struct MavoRun {
  int exitCode = -1;
  QString out;
  QString err;
};

MavoRun Mavo(const QStringList& args) {
  QProcess process;
  process.start(QStringLiteral(CF_MAVO_PROGRAM), args);
  MavoRun run;
  if (!process.waitForFinished(240000)) return run;
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

TEST(MavoEndToEnd, GetFolderAgainstTheDemoServerPrintsItsEventAndTheFolderDocument) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  const QString base = QStringLiteral("http://") + server.BaseUrl();
  const MavoRun run =
      Mavo({QStringLiteral("getfolder"), base + QStringLiteral("/mavo/getfolder/"),
            QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("tool=v.2.100603")});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QStringList lines = run.out.split(QLatin1Char('\n'));
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], QStringLiteral("OnGetFolderFinished"));
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("<?xml"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("<getFolder"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("<folder>"))) << run.out.toStdString();
  EXPECT_FALSE(run.out.contains(QStringLiteral("errInfo"))) << run.out.toStdString();
}

TEST(MavoEndToEnd, ChainedRequestsRunOneAfterAnotherOnOneControl) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  const QString base = QStringLiteral("http://") + server.BaseUrl();
  const MavoRun run =
      Mavo({QStringLiteral("getversion"), base + QStringLiteral("/mavo/getVersion/"),
            QStringLiteral("+"), QStringLiteral("getversion2"),
            base + QStringLiteral("/mavo/getVersion/"), QStringLiteral("demo"),
            QStringLiteral("demo"), QStringLiteral("2"), QStringLiteral("-1"),
            QStringLiteral("5.0"), QStringLiteral("tool=v.2.100603"), QStringLiteral("+"),
            QStringLiteral("getfolder"), base + QStringLiteral("/mavo/getfolder/"),
            QStringLiteral("demo"), QStringLiteral("wrong"), QStringLiteral("tool=v.2.100603")});
  // Every request ran, and the refused one makes the run fail.
  ASSERT_EQ(run.exitCode, 1) << run.err.toStdString();
  const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 6) << run.out.toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("OnGetVersionFinished"));
  EXPECT_TRUE(lines[1].contains(QStringLiteral("<version>")));
  EXPECT_EQ(lines[2], QStringLiteral("OnGetVersionFinished"));
  EXPECT_TRUE(lines[3].contains(QStringLiteral("<quota>"))) << lines[3].toStdString();
  EXPECT_EQ(lines[4], QStringLiteral("OnGetFolderFinished"));
  // A refused login still ends with its event; the refusal is in the document.
  EXPECT_TRUE(lines[5].contains(QStringLiteral("<errInfo>"))) << lines[5].toStdString();
}

QString WriteRandomFile(const QString& name, qsizetype size, QByteArray* data) {
  const QString path = QDir::temp().filePath(name);
  data->resize(size);
  QRandomGenerator generator(20101);
  generator.fillRange(reinterpret_cast<quint32*>(data->data()), size / 4);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(*data);
  return path;
}

QStringList PutFileArgs(const QString& base, const QString& path) {
  return {QStringLiteral("getfolder"),
          base + QStringLiteral("/mavo/getfolder/"),
          QStringLiteral("demo"),
          QStringLiteral("demo"),
          QStringLiteral("tool=v.2.100603"),
          QStringLiteral("+"),
          QStringLiteral("putfile"),
          base + QStringLiteral("/mavo/putFile/"),
          QStringLiteral("demo"),
          QStringLiteral("demo"),
          QStringLiteral("2"),
          QStringLiteral("-1"),
          path};
}

TEST(MavoEndToEnd, A64MiBArchiveArrivesByteIdenticalThoughEveryBlockFailsOnce) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo"), QStringLiteral("--accept-any-archive")}))
      << server.ErrorText().toStdString();
  constexpr int kBlocks = 128;
  // Every block fails on its first attempt, in turn with a status, a dropped connection, an
  // empty answer and (before the last block) an answer without its address.
  for (int block = 0; block < kBlocks; ++block) {
    const char* kinds[] = {"status=500", "drop", "empty", "nourl"};
    const char* kind = block == kBlocks - 1 ? "status=503" : kinds[block % 4];
    ASSERT_TRUE(server.ArmFault(
        QStringLiteral("path=/mavo/putFile,block=%1,%2").arg(block).arg(QLatin1String(kind))));
  }
  QByteArray data;
  const QString path =
      WriteRandomFile(QStringLiteral("mavo_file.zip"), qsizetype{kBlocks} * 524288, &data);

  const MavoRun run = Mavo(PutFileArgs(QStringLiteral("http://") + server.BaseUrl(), path));
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  const qsizetype event = lines.indexOf(QStringLiteral("OnPutFileFinished"));
  ASSERT_GT(event, 2) << run.out.toStdString();
  EXPECT_EQ(lines[event - 1], QStringLiteral("progress 100"));
  ASSERT_LT(event + 1, lines.size());
  EXPECT_TRUE(lines[event + 1].contains(QStringLiteral("<contentID>")))
      << lines[event + 1].toStdString();
  EXPECT_FALSE(lines[event + 1].contains(QStringLiteral("errInfo")));

  const QString contents = QDir(server.DataDir()).filePath(QStringLiteral("contents"));
  const QStringList stored = QDir(contents).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  ASSERT_EQ(stored.size(), 1);
  QFile archive(QDir(contents).filePath(stored.first() + QStringLiteral("/mavo_file.zip")));
  ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
  EXPECT_EQ(QCryptographicHash::hash(archive.readAll(), QCryptographicHash::Sha256),
            QCryptographicHash::hash(data, QCryptographicHash::Sha256));
}

TEST(MavoEndToEnd, CancelAtAPercentageStopsTheUploadAndTheServerKeepsNothing) {
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo"), QStringLiteral("--accept-any-archive")}))
      << server.ErrorText().toStdString();
  // Slow blocks, so the half-second progress polls see the upload under way.
  ASSERT_TRUE(server.ArmFault(QStringLiteral("path=/mavo/putFile,delay=300,always")));
  QByteArray data;
  const QString path = WriteRandomFile(QStringLiteral("cancelled.zip"), 8 * 524288, &data);
  QStringList args = PutFileArgs(QStringLiteral("http://") + server.BaseUrl(), path);
  args << QStringLiteral("--cancel-at") << QStringLiteral("30");
  const MavoRun run = Mavo(args);
  // The cancelled upload's document holds its errInfo, so the run failed.
  ASSERT_EQ(run.exitCode, 1) << run.err.toStdString();
  const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  const qsizetype event = lines.indexOf(QStringLiteral("OnPutFileFinished"));
  ASSERT_GT(event, 2) << run.out.toStdString();
  EXPECT_TRUE(lines[event + 1].contains(QStringLiteral("<errInfo>1004</errInfo>")))
      << run.out.toStdString();
  EXPECT_NE(lines[event - 1], QStringLiteral("progress 100"));
  EXPECT_TRUE(QDir(QDir(server.DataDir()).filePath(QStringLiteral("contents")))
                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                  .isEmpty());
}

TEST(MavoEndToEnd, ABadCommandLineExitsWithUsageAndHelpIsNoError) {
  const MavoRun run = Mavo({QStringLiteral("getfolder"), QStringLiteral("http://127.0.0.1:1/")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains(QStringLiteral("usage: mavo")));
  const MavoRun help = Mavo({QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.startsWith(QStringLiteral("usage: mavo"))) << help.out.toStdString();
}

// No server at the address: the control's own document says so, and the run fails.
TEST(MavoEndToEnd, ARequestWithoutAServerFails) {
  const MavoRun run = Mavo({QStringLiteral("getversion"), QStringLiteral("http://127.0.0.1:1/v/")});
  EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("<errInfo>"))) << run.out.toStdString();
}

}  // namespace
