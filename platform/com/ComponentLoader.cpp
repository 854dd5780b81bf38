#include "platform/com/ComponentLoader.h"

#include "platform/com/ClassRegistry.h"
#include "platform/com/ModuleExports.h"

#include <QFileInfo>

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace cf::com {
namespace {

std::mutex modulesMutex;
std::map<QString, void*>& LoadedModules() {
  static std::map<QString, void*> modules;
  return modules;
}

void SetError(QString* error, const QString& text) {
  if (error != nullptr) *error = text;
}

// Loads a module once per process and returns its handle, or null with the loader's reason.
void* LoadModule(const QString& modulePath, QString* error) {
  const QFileInfo info(modulePath);
  if (!info.isFile()) {
    SetError(error, QStringLiteral("the component module %1 does not exist").arg(modulePath));
    return nullptr;
  }
  const QString canonical = info.canonicalFilePath();
  std::lock_guard guard(modulesMutex);
  auto& modules = LoadedModules();
  if (const auto found = modules.find(canonical); found != modules.end()) return found->second;
  dlerror();
  void* handle = dlopen(canonical.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    SetError(error,
             QStringLiteral("cannot load the component module %1: %2")
                 .arg(modulePath, QString::fromLocal8Bit(reason ? reason : "unknown error")));
    return nullptr;
  }
  modules.emplace(canonical, handle);
  return handle;
}

template <typename Function>
Function Export(void* module, const char* name, const QString& modulePath, QString* error) {
  auto* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    SetError(error, QStringLiteral("the module %1 has no entry point %2")
                        .arg(modulePath, QString::fromLatin1(name)));
    return nullptr;
  }
  return reinterpret_cast<Function>(symbol);
}

HRESULT CallRegistration(const QString& modulePath, const char* entry, QString* error) {
  void* module = LoadModule(modulePath, error);
  if (module == nullptr) return CO_E_DLLNOTFOUND;
  const auto call = Export<DllRegisterServerFn>(module, entry, modulePath, error);
  if (call == nullptr) return CO_E_ERRORINDLL;
  const HRESULT hr = call();
  if (FAILED(hr)) {
    SetError(error, QStringLiteral("%1 of %2 failed (0x%3)")
                        .arg(QString::fromLatin1(entry), modulePath)
                        .arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0')));
  }
  return hr;
}

}  // namespace

HRESULT ComponentLoader::RegisterModule(const QString& modulePath, QString* error) {
  return CallRegistration(modulePath, kDllRegisterServer, error);
}

HRESULT ComponentLoader::UnregisterModule(const QString& modulePath, QString* error) {
  return CallRegistration(modulePath, kDllUnregisterServer, error);
}

HRESULT ComponentLoader::EnsureRegistered(const QString& className, const QString& modulePath,
                                          QString* error) {
  ClassRegistry registry;
  registry.Load();
  if (const auto clsid = registry.ResolveClass(className)) {
    const QString registered = registry.ModulePath(*clsid);
    if (!registered.isEmpty() && QFileInfo(registered).isFile()) return S_FALSE;
  }
  return RegisterModule(QFileInfo(modulePath).absoluteFilePath(), error);
}

HRESULT ComponentLoader::CreateInstance(const QString& className, const IID& iid, void** object,
                                        QString* error) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ClassRegistry registry;
  QString loadError;
  if (!registry.Load(&loadError)) {
    SetError(error, loadError);
    return REGDB_E_CLASSNOTREG;
  }
  const auto clsid = registry.ResolveClass(className);
  if (!clsid) {
    SetError(error, QStringLiteral("the class %1 is not registered").arg(className));
    return REGDB_E_CLASSNOTREG;
  }
  const QString modulePath = registry.ModulePath(*clsid);
  if (modulePath.isEmpty()) {
    SetError(error, QStringLiteral("the class %1 has no module").arg(className));
    return REGDB_E_CLASSNOTREG;
  }
  void* module = LoadModule(modulePath, error);
  if (module == nullptr) return CO_E_DLLNOTFOUND;
  const auto getClassObject =
      Export<DllGetClassObjectFn>(module, kDllGetClassObject, modulePath, error);
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;

  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(*clsid, IClassFactory::kIid, factory.OutVoid());
  if (FAILED(hr) || !factory) {
    SetError(error,
             QStringLiteral("the module %1 has no factory for %2").arg(modulePath, className));
    return FAILED(hr) ? hr : CLASS_E_CLASSNOTAVAILABLE;
  }
  hr = factory->CreateInstance(nullptr, iid, object);
  if (FAILED(hr)) SetError(error, QStringLiteral("cannot create an object of %1").arg(className));
  return hr;
}

HRESULT ComponentLoader::CreateControl(const QString& className, QWidget* parent,
                                       ComPtr<IUnknown>* control, QString* error) {
  if (control == nullptr) return E_POINTER;
  control->Reset();
  if (parent == nullptr) {
    SetError(error, QStringLiteral("a control needs a parent window"));
    return E_INVALIDARG;
  }
  ComPtr<IInPlaceControl> inPlace;
  const HRESULT hr = CreateInstance(className, IInPlaceControl::kIid, inPlace.OutVoid(), error);
  if (FAILED(hr)) return hr;
  const HRESULT activated = inPlace->Activate(parent);
  if (FAILED(activated)) {
    SetError(error, QStringLiteral("the control %1 could not be activated").arg(className));
    return activated;
  }
  *control = inPlace.As<IUnknown>();
  return S_OK;
}

bool ComponentLoader::CanUnloadModule(const QString& modulePath) {
  QString ignored;
  void* module = LoadModule(modulePath, &ignored);
  if (module == nullptr) return true;
  const auto canUnload = Export<DllCanUnloadNowFn>(module, kDllCanUnloadNow, modulePath, &ignored);
  return canUnload != nullptr && canUnload() == S_OK;
}

}  // namespace cf::com
