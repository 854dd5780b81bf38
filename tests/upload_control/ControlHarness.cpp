#include "tests/upload_control/ControlHarness.h"

#include "platform/com/Bstr.h"
#include "platform/com/ComponentLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
// Only a guard against a hang; requests against loopback finish far sooner.
constexpr int kEventGuardMs = 120000;
}  // namespace

QString ControlHarness::ModulePath() {
  const QString programDir = qEnvironmentVariable("CLIPFERRY_PROGRAM_DIR");
  if (programDir.isEmpty()) return QStringLiteral(KQMAVO2_MODULE_FILE);
  return QDir(programDir).filePath(QLatin1String(kqmavo2::kModuleFileName));
}

ControlHarness::ControlHarness() : host_(std::make_unique<QWidget>()) {
  QString error;
  EXPECT_TRUE(cf::com::SUCCEEDED(cf::com::ComponentLoader::EnsureRegistered(
      QLatin1String(kqmavo2::kClassName), ModulePath(), &error)))
      << error.toStdString();
  cf::com::ComPtr<cf::com::IUnknown> unknown;
  const cf::com::HRESULT hr = cf::com::ComponentLoader::CreateControl(
      QLatin1String(kqmavo2::kClassName), host_.get(), &unknown, &error);
  EXPECT_EQ(hr, cf::com::S_OK) << error.toStdString();
  control_ = unknown.As<kqmavo2::Imavo2>();
  const auto container = unknown.As<cf::com::IConnectionPointContainer>();
  EXPECT_TRUE(control_ && container);
  if (!container) return;
  container->FindConnectionPoint(kqmavo2::DIID__Imavo2Events, point_.Out());
  sink_ = cf::com::DispatchSink::Create(kqmavo2::DIID__Imavo2Events);
  for (cf::com::DISPID event = kqmavo2::DISPID_OnPutFileFinished;
       event <= kqmavo2::DISPID_OnPutFileBlock; ++event) {
    sink_->On(event, [this, event] {
      fired_.push_back({event, QThread::currentThread() == QCoreApplication::instance()->thread()});
    });
  }
  EXPECT_EQ(point_->Advise(sink_.get(), &cookie_), cf::com::S_OK);
}

ControlHarness::~ControlHarness() { ReleaseControl(); }

void ControlHarness::ReleaseControl() {
  if (point_) point_->Unadvise(cookie_);
  point_.Reset();
  control_.Reset();
}

bool ControlHarness::WaitForEvents(int count) {
  return WaitForTotal(fired_.size() + static_cast<std::size_t>(count));
}

bool ControlHarness::WaitForTotal(std::size_t target) {
  QEventLoop loop;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
  guard.start(kEventGuardMs);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (fired_.size() >= target) loop.quit();
  });
  poll.start(5);
  loop.exec();
  return fired_.size() >= target;
}

QString ControlHarness::Response() const {
  cf::com::Bstr response;
  control_->get_Response(response.Out());
  return response.ToQString();
}

ScopedControlSetting::ScopedControlSetting(const char* key, const QString& value)
    : key_(QStringLiteral("clipFerry/") + QLatin1String(key)) {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  settings.setValue(key_, value);
}

ScopedControlSetting::~ScopedControlSetting() {
  QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
  settings.remove(key_);
}
