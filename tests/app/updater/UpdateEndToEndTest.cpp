// The whole update as a user meets it: one start fetches the version list, the next offers the
// update, Update downloads and unpacks it, the program closes and hands over, and the updater
// patches the program folder and starts the new program. The program folder is a private copy.

#include "KqServerProcess.h"
#include "app/queue/frmUpload.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/SettingsStore.h"
#include "app/services/modLanguage.h"
#include "app/updater/frmDownloader.h"
#include "app/updater/modUpdate.h"
#include "tests/app/updater/TestZip.h"
#include "ui_frmDownloader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Write(const QString& path, const QByteArray& bytes, bool program = false) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    return false;
  }
  if (program) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
  return true;
}

// A stand-in for the program: it notes which version started.
QByteArray ProgramScript(const char* version) {
  return QByteArray("#!/bin/sh\necho ") + version + " > \"$(dirname \"$0\")/started.txt\"\n";
}

TEST(UpdateEndToEnd, AnOfferedUpdateIsDownloadedHandedOverAndApplied) {
  const QDir built(QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR")));
  QTemporaryDir programDir;
  for (const QString& name : built.entryList(
           {QStringLiteral("*.xml"), QStringLiteral("*.kqp"), QStringLiteral("libkqmavo2.so")},
           QDir::Files)) {
    ASSERT_TRUE(QFile::copy(built.filePath(name), programDir.filePath(name)));
  }
  ASSERT_TRUE(Write(programDir.filePath(QStringLiteral("clipFerry")), ProgramScript("old"), true));
  ASSERT_TRUE(Write(programDir.filePath(QStringLiteral("notes.txt")), "kept"));
  SetProgramFolder(programDir.path());
  ReloadResStrings();
  std::vector<QString> messages;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    messages.push_back(request.text);
    return MsgAnswer::Ok;
  });

  KqServerProcess server;
  ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
  const QDir updates(QDir(server.DataDir()).filePath(QStringLiteral("updates")));
  ASSERT_TRUE(QDir().mkpath(updates.filePath(QStringLiteral("version/2.5"))));
  ASSERT_TRUE(
      WriteTestZip(updates.filePath(QStringLiteral("version/updater_manifest.zip")),
                   {{"kqUpdater_manifest",
                     Read(built.filePath(QStringLiteral("kqUpdater_manifest"))), 0100755}}));
  ASSERT_TRUE(WriteTestZip(
      updates.filePath(QStringLiteral("version/2.5/patch.zip")),
      {{"clipFerry", ProgramScript("2.5"), 0100755}, {"encfiles/added.txt", "new in 2.5"}}));
  ASSERT_TRUE(Write(updates.filePath(QStringLiteral("verinfo.xml")),
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><verInfo><list><item><ver>2.5</ver>"
                    "<path>/version_ctrl/clipferry/version/2.5</path><fullPatch>False</fullPatch>"
                    "<log>Faster uploads</log></item></list></verInfo>"));
  const QString settings = QString::fromLatin1(kSettingsSection);
  WritePlainSetting(settings, QString::fromLatin1(kUpdateServerKey), server.BaseUrl());

  {
    // First start: nothing saved yet, so nothing is offered; the list is fetched for next time.
    frmUpload first;
    first.show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return !ReadPlainSetting(settings, QString::fromLatin1(kVerListPathKey), QString())
                      .isEmpty();
        },
        30000));
    first.close();
  }

  // Second start: the offer, answered with Update.
  int offers = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* window = qobject_cast<frmDownloader*>(QApplication::activeModalWidget());
    if (window && window->form().cmdUpdate->isEnabled()) {
      ++offers;
      window->form().cmdUpdate->click();
    }
  });
  answer.start(50);
  frmUpload second;
  second.show();
  const QString started = programDir.filePath(QStringLiteral("started.txt"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(started); }, 120000))
      << "messages: " << QStringList(messages.begin(), messages.end()).join('|').toStdString();
  QTest::qWait(200);  // let the new program finish its line

  EXPECT_EQ(offers, 1);
  EXPECT_FALSE(second.isVisible());
  EXPECT_EQ(Read(started).trimmed(), QByteArray("2.5"));
  EXPECT_EQ(Read(programDir.filePath(QStringLiteral("clipFerry"))), ProgramScript("2.5"));
  EXPECT_EQ(Read(programDir.filePath(QStringLiteral("encfiles/added.txt"))), "new in 2.5");
  EXPECT_EQ(Read(programDir.filePath(QStringLiteral("notes.txt"))), "kept");
  EXPECT_TRUE(QTest::qWaitFor([] { return !QFileInfo::exists(UpdateFolder()); }, 10000));
  EXPECT_TRUE(messages.empty());
  SetMessageHandler(previous);
  SetProgramFolder(QString());
  ReloadResStrings();
}

}  // namespace
