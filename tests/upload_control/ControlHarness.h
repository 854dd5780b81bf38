#pragma once

#include "kqmavo2/Imavo2.h"
#include "platform/com/ComPtr.h"
#include "platform/com/DispatchSink.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

// A mavo2 control created the way a host creates it: the module of the build's program folder
// is registered for this test process, the control is made by class name inside a widget, and
// a sink records every event with the thread it arrived on.
class ControlHarness {
 public:
  struct FiredEvent {
    cf::com::DISPID event;
    bool onGuiThread;
  };

  ControlHarness();
  ~ControlHarness();

  kqmavo2::Imavo2* operator->() const { return control_.get(); }
  kqmavo2::Imavo2* Control() const { return control_.get(); }
  cf::com::IConnectionPoint* Events() const { return point_.get(); }
  QWidget* Host() { return host_.get(); }

  // Runs the event loop until `count` more events have fired (giving up after a generous
  // guard so a missing event fails the test instead of hanging it). True when they came.
  bool WaitForEvents(int count = 1);
  // Same, until this control has fired `total` events since it was made.
  bool WaitForTotal(std::size_t total);
  const std::vector<FiredEvent>& Fired() const { return fired_; }
  QString Response() const;

  // Drops the control (and the host's references to it).
  void ReleaseControl();

  static QString ModulePath();

 private:
  std::unique_ptr<QWidget> host_;
  cf::com::ComPtr<kqmavo2::Imavo2> control_;
  cf::com::ComPtr<cf::com::IConnectionPoint> point_;
  cf::com::ComPtr<cf::com::DispatchSink> sink_;
  cf::com::DWORD cookie_ = 0;
  std::vector<FiredEvent> fired_;
};

// A per-user setting of the control (section clipFerry) for the length of one scope.
class ScopedControlSetting {
 public:
  ScopedControlSetting(const char* key, const QString& value);
  ~ScopedControlSetting();
  ScopedControlSetting(const ScopedControlSetting&) = delete;
  ScopedControlSetting& operator=(const ScopedControlSetting&) = delete;

 private:
  QString key_;
};
