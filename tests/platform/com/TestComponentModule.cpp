// A small component module for the component layer's tests: one control class whose objects
// report a value, registered under test names.

#include "platform/com/ClassFactory.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/ModuleExports.h"
#include "platform/com/ModuleLock.h"
#include "tests/platform/com/TestComponent.h"

#include <QFileInfo>
#include <QWidget>

#include <dlfcn.h>

#include <atomic>

namespace {

using namespace cf::com;

class TestWidgetObject final : public ITestValue, public IInPlaceControl {
 public:
  TestWidgetObject() { ModuleLock::Lock(); }
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IUnknown::kIid || iid == ITestValue::kIid) {
      *object = static_cast<ITestValue*>(this);
    } else if (iid == IInPlaceControl::kIid) {
      *object = static_cast<IInPlaceControl*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  int Value() override { return 42; }
  HRESULT Activate(QWidget* parent) override {
    window_ = new QWidget(parent);
    return S_OK;
  }
  QWidget* Window() override { return window_; }

 private:
  ~TestWidgetObject() {
    delete window_;
    ModuleLock::Unlock();
  }
  std::atomic<ULONG> references_{0};
  QWidget* window_ = nullptr;
};

QString ModuleFilePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) == 0) return {};
  return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

ControlClassInfo Info() {
  ControlClassInfo info;
  info.clsid = kTestWidgetClsid;
  info.description = QStringLiteral("TestWidget Class");
  info.progId = QStringLiteral("CfTest.Widget.1");
  info.versionIndependentProgId = QStringLiteral("CfTest.Widget");
  info.className = QStringLiteral("Widget");
  info.typeLibId = kTestLibId;
  info.typeLibName = QStringLiteral("CFTESTLib");
  info.typeLibHelp = QStringLiteral("cftest 1.0 Type Library");
  info.typeLibVersion = QStringLiteral("1.0");
  info.modulePath = ModuleFilePath();
  return info;
}

}  // namespace

CF_COM_EXPORT HRESULT DllRegisterServer() {
  ClassRegistry registry;
  return registry.Update([](ClassRegistry& r) { r.WriteControlClass(Info()); }) ? S_OK
                                                                                : SELFREG_E_CLASS;
}

CF_COM_EXPORT HRESULT DllUnregisterServer() {
  ClassRegistry registry;
  return registry.Update([](ClassRegistry& r) { r.RemoveControlClass(Info()); }) ? S_OK
                                                                                 : SELFREG_E_CLASS;
}

CF_COM_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (clsid != kTestWidgetClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return ClassFactory::Create(
      []() -> IUnknown* { return static_cast<ITestValue*>(new TestWidgetObject()); }, iid, object);
}

CF_COM_EXPORT HRESULT DllCanUnloadNow() { return ModuleLock::CanUnloadNow(); }
