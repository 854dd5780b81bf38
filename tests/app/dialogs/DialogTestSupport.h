#pragma once

#include "KqServerProcess.h"
#include "TestProgramFolder.h"
#include "app/dialogs/DialogShared.h"
#include "app/services/MessageService.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

// A private program folder with the real resources, the converter front end and the upload
// control of the build, a reference server with the demo accounts, and the messages the code
// would have shown.
class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    const QString built = QString::fromLocal8Bit(qgetenv("CLIPFERRY_PROGRAM_DIR"));
    for (const char* name : {"ffmpeg", "libkqmavo2.so"}) {
      ASSERT_TRUE(QFile::link(built + QLatin1Char('/') + QLatin1String(name),
                              folder_.filePath(QLatin1String(name))));
    }
    ASSERT_TRUE(server_.Start({QStringLiteral("--init-demo")}))
        << server_.ErrorText().toStdString();
    // An account whose folders accept no uploads at all.
    ASSERT_TRUE(server_.Seed(
        QStringLiteral("<kqserver><account name=\"nofolder\" password=\"demo\">"
                       "<sysinfo ver=\"5.0\" noCvtForMp4=\"1\" customBps=\"1\"/>"
                       "<folder id=\"50\" pid=\"1\" name=\"Read only\" uploadable=\"0\"/>"
                       "</account></kqserver>")));
    DialogShared::Instance().Reset();
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_ << request.text;
      titles_ << request.title;
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(previous_);
    DialogShared::Instance().Reset();
  }

  QString ServerUrl() const { return QStringLiteral("http://") + server_.BaseUrl(); }
  // Folder requests the server has answered so far.
  int FolderRequests() const {
    QFile log(server_.DataDir() + QStringLiteral("/requests.log"));
    if (!log.open(QIODevice::ReadOnly)) return 0;
    return static_cast<int>(log.readAll().count("/mavo/getfolder/"));
  }

  TestProgramFolder folder_;
  KqServerProcess server_;
  QStringList messages_;
  QStringList titles_;
  MessageHandler previous_;
};
