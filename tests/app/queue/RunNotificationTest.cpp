// Desktop notifications on a session bus of the test's own, answered by a stand-in notification
// service, and what the main window shows of a run meanwhile.

#include "app/queue/frmUpload.h"
#include "platform/desktop/DesktopNotification.h"
#include "tests/app/queue/DriverFixture.h"
#include "tests/app/queue/QueueTestJobs.h"
#include "ui_frmUpload.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace {

struct Notification {
  QString app;
  QString summary;
  QString body;
};

// org.freedesktop.Notifications as far as Notify goes: records each call and answers with an id.
class StubNotifications : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) {
      return false;
    }
    const QList<QVariant> a = message.arguments();
    QMutexLocker lock(&mutex_);
    calls_.append({a[0].toString(), a[3].toString(), a[4].toString()});
    connection.send(message.createReply(QVariant::fromValue(uint(calls_.size()))));
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  QList<Notification> calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
  }

 private:
  mutable QMutex mutex_;
  QList<Notification> calls_;
};

class RunNotification : public ::testing::Test {
 protected:
  // One private bus for the whole program: the session bus connection is made once per process.
  static void SetUpTestSuite() {
    daemon_ = new QProcess;
    daemon_->start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!daemon_->waitForReadyRead(10000)) return;
    address_ = QString::fromUtf8(daemon_->readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
  }
  static void TearDownTestSuite() {
    daemon_->terminate();
    daemon_->waitForFinished(5000);
    delete daemon_;
    daemon_ = nullptr;
  }

  void SetUp() override { ASSERT_FALSE(address_.isEmpty()) << "dbus-daemon did not start"; }
  void TearDown() override {
    if (!registered_) return;
    QDBusConnection stub(QStringLiteral("stub"));
    stub.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    stub.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("stub"));
    thread_.quit();
    thread_.wait();
  }

  // The stand-in answers on a thread of its own, as a real service is another process.
  bool RegisterStub() {
    QDBusConnection stub = QDBusConnection::connectToBus(address_, QStringLiteral("stub"));
    thread_.start();
    service_.moveToThread(&thread_);
    registered_ =
        stub.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service_) &&
        stub.registerService(QStringLiteral("org.freedesktop.Notifications"));
    return registered_;
  }

  static inline QProcess* daemon_ = nullptr;
  static inline QString address_;
  QThread thread_;
  StubNotifications service_;
  bool registered_ = false;
};

TEST_F(RunNotification, ReachesTheServiceOrSaysThereIsNone) {
  // A bus without a notification service: nothing is shown, and the caller hears so.
  EXPECT_FALSE(cf::desktop::DesktopNotification::Notify(
      QStringLiteral("clipFerry"), QStringLiteral("2 uploaded, 0 failed"), QString()));
  ASSERT_TRUE(RegisterStub());
  EXPECT_TRUE(cf::desktop::DesktopNotification::Notify(
      QStringLiteral("clipFerry"), QStringLiteral("2 uploaded, 1 failed"), QStringLiteral("body")));
  const QList<Notification> calls = service_.calls();
  ASSERT_EQ(calls.size(), 1);
  EXPECT_EQ(calls[0].app, QStringLiteral("clipFerry"));
  EXPECT_EQ(calls[0].summary, QStringLiteral("2 uploaded, 1 failed"));
  EXPECT_EQ(calls[0].body, QStringLiteral("body"));
}

// A run of two jobs in a window that is not the active one: the failing job and the end of the
// run are notified, so no box waits at the end; meanwhile the title carries the percent and the
// window says which job of how many runs.
TEST_F(RunNotification, TheWindowNotifiesInsteadOfShowingTheEndOfRunBox) {
  ASSERT_TRUE(RegisterStub());
  LinkedProgramFolder program;
  KqServerProcess server;
  ASSERT_TRUE(server.Start({QStringLiteral("--init-demo")})) << server.ErrorText().toStdString();
  QTemporaryDir clips;
  const QString changed = clips.filePath(QStringLiteral("-changed 'a' $(b).mp4"));
  const QString good = clips.filePath(QStringLiteral("good ü.mp4"));
  ASSERT_TRUE(TestClips::MakeVideo(changed, 2, QStringLiteral("320x240")));
  // Noise does not compress: about 3 MiB, sent slowly enough to show its speed.
  ASSERT_TRUE(TestClips::Make(
      good, {"-f", "lavfi", "-i", "testsrc=size=640x360:rate=25:duration=2,noise=alls=60:allf=t",
             "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:a", "aac", "-pix_fmt",
             "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"}));
  ASSERT_TRUE(server.ArmFault(QStringLiteral("path=/mavo/putFile,delay=400,always")));
  QStringList messages;
  const MessageHandler previous = SetMessageHandler([&](const MessageRequest& request) {
    messages.append(request.text);
    return MsgAnswer::Ok;
  });

  frmUpload window;
  window.RunStartupTick();
  ASSERT_NE(window.driver(), nullptr);
  const QString title = window.windowTitle();
  ASSERT_TRUE(window.queue().Add(ClipJob(changed, server.BaseUrl(), 2)));
  ASSERT_TRUE(window.queue().Add(ClipJob(good, server.BaseUrl(), 2)));
  // Touched after it was queued: the first job fails its source check.
  QFile touched(changed);
  ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
  ASSERT_TRUE(touched.setFileTime(QFileInfo(changed).lastModified().addSecs(-30),
                                  QFileDevice::FileModificationTime));
  touched.close();
  Ui::frmUpload& ui = window.form();
  EXPECT_TRUE(ui.lJobOfQueue->isHidden());

  QStringList titles;
  QStringList counters;
  QStringList statusLines;
  QObject context;
  QObject::connect(&window, &QWidget::windowTitleChanged, &context,
                   [&](const QString& text) { titles << text; });
  QObject::connect(window.driver(), &cf::JobDriver::phaseChanged, &context,
                   [&] { counters << ui.lJobOfQueue->text(); });
  QObject::connect(window.driver(), &cf::JobDriver::statusChanged, &context,
                   [&] { statusLines << ui.lStatus->text(); });
  QSignalSpy running(window.driver(), &cf::JobDriver::runningChanged);
  ui.cmdStartUpload->setEnabled(true);
  ui.cmdStartUpload->click();
  while (window.driver()->running()) ASSERT_TRUE(running.wait(60000));

  const QList<Notification> calls = service_.calls();
  ASSERT_EQ(calls.size(), 2);
  EXPECT_EQ(calls[0].summary, QStringLiteral("Upload failed: Lab -changed 'a' $(b)"));
  EXPECT_EQ(calls[0].body, QStringLiteral("File has been modified"));
  EXPECT_EQ(calls[1].summary, QStringLiteral("1 uploaded, 1 failed"));
  EXPECT_FALSE(messages.contains(GetResString("frmUpload", "msgComplete")))
      << messages.join(QLatin1Char('\n')).toStdString();

  // The status line of the upload carries its bytes, speed and time left.
  static const QRegularExpression kUploadLine(QStringLiteral(
      "^Uploading data to the server \\.\\.\\. \\d+% \\([\\d.]+ of [\\d.]+ MB, [\\d.]+ [KM]B/s, "
      "about \\d+ s left\\)$"));
  EXPECT_FALSE(statusLines.filter(kUploadLine).isEmpty())
      << statusLines.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(counters.contains(QStringLiteral("Job 1 of 2")));
  EXPECT_TRUE(counters.contains(QStringLiteral("Job 2 of 2")));
  EXPECT_TRUE(ui.lJobOfQueue->isHidden());
  // The percent stands before the title and only grows; afterwards the title is as it was.
  ASSERT_GE(titles.size(), 3);
  int last = -1;
  for (const QString& shown : titles.mid(0, titles.size() - 1)) {
    ASSERT_TRUE(shown.endsWith(QStringLiteral("% - ") + title)) << shown.toStdString();
    const int percent = shown.section(QLatin1Char('%'), 0, 0).toInt();
    EXPECT_GE(percent, last) << shown.toStdString();
    last = percent;
  }
  EXPECT_GE(last, 50);
  EXPECT_EQ(titles.last(), title);
  EXPECT_EQ(window.windowTitle(), title);
  SetMessageHandler(previous);
}

}  // namespace
