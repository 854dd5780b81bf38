#pragma once

// An update server for the window tests: kqserver with its data folder's "updates" filled by the
// test, a private program folder, and the messages the windows showed.

#include "KqServerProcess.h"
#include "TestProgramFolder.h"
#include "app/services/MessageService.h"
#include "tests/app/updater/TestZip.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <vector>

struct ListedVersion {
  const char* ver;
  bool fullPatch = false;
  const char* sha256 = nullptr;  // written into the list as given, instead of the server's
};

class UpdateServerFixture : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(server_.Start()) << server_.ErrorText().toStdString();
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_.push_back(request);
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override { SetMessageHandler(previous_); }

  QString ServerBase() const { return QStringLiteral("http://") + server_.BaseUrl(); }
  QString UpdatesPath(const QString& relative) const {
    return QDir(server_.DataDir()).filePath(QStringLiteral("updates/") + relative);
  }
  bool PutZip(const QString& relative, const QList<TestZipEntry>& entries) const {
    QDir().mkpath(QFileInfo(UpdatesPath(relative)).absolutePath());
    return WriteTestZip(UpdatesPath(relative), entries);
  }
  bool PutPatch(const char* ver, const QList<TestZipEntry>& entries) const {
    return PutZip(QStringLiteral("version/%1/patch.zip").arg(QLatin1String(ver)), entries);
  }
  // An updater package holding a program of the manifest variant's name.
  bool PutUpdaterPackage(const QByteArray& program = "#!/bin/sh\nexit 0\n") const {
    return PutZip(QStringLiteral("version/updater_manifest.zip"),
                  {{"kqUpdater_manifest", program, 0100755}});
  }
  static QByteArray ListXml(const std::vector<ListedVersion>& versions) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><verInfo><list>";
    for (const ListedVersion& v : versions) {
      xml += QByteArray("<item><ver>") + v.ver + "</ver><path>/version_ctrl/clipferry/version/" +
             v.ver + "</path><fullPatch>" + (v.fullPatch ? "True" : "False") +
             "</fullPatch><log>changes of " + v.ver + "</log>";
      if (v.sha256) xml += QByteArray("<sha256>") + v.sha256 + "</sha256>";
      xml += "</item>";
    }
    return xml + "</list></verInfo>";
  }
  bool PutList(const std::vector<ListedVersion>& versions, bool draft = false) const {
    QDir().mkpath(UpdatesPath(QString()));
    QFile file(
        UpdatesPath(draft ? QStringLiteral("verinfo_draft.xml") : QStringLiteral("verinfo.xml")));
    return file.open(QIODevice::WriteOnly) && file.write(ListXml(versions)) > 0;
  }
  QStringList MessageTexts() const {
    QStringList texts;
    for (const MessageRequest& m : messages_) texts.append(m.text);
    return texts;
  }

  TestProgramFolder program_;
  KqServerProcess server_;
  std::vector<MessageRequest> messages_;
  MessageHandler previous_;
};
