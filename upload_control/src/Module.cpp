// The module's entry points: self-registration into the per-user class registry and the class
// factory of the mavo2 control.

#include "platform/com/ClassFactory.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/ModuleExports.h"
#include "platform/com/ModuleLock.h"
#include "upload_control/include/kqmavo2/Imavo2.h"
#include "upload_control/src/Mavo2Control.h"

#include <QFileInfo>

#include <dlfcn.h>

namespace {

using namespace cf::com;

// The file this code was loaded from, found through one of its own addresses.
QString ModuleFilePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

ControlClassInfo Mavo2ClassInfo() {
  ControlClassInfo info;
  info.clsid = kqmavo2::CLSID_mavo2;
  info.description = QStringLiteral("mavo2 Class");
  info.progId = QString::fromLatin1(kqmavo2::kProgId);
  info.versionIndependentProgId = QString::fromLatin1(kqmavo2::kVersionIndependentProgId);
  info.className = QStringLiteral("mavo2");
  info.typeLibId = kqmavo2::LIBID_KQMAVO2Lib;
  info.typeLibName = QStringLiteral("KQMAVO2Lib");
  info.typeLibHelp = QStringLiteral("kqmavo2 1.0 Type Library");
  info.typeLibVersion = QStringLiteral("1.0");
  info.modulePath = ModuleFilePath();
  return info;
}

}  // namespace

CF_COM_EXPORT HRESULT DllRegisterServer() {
  const ControlClassInfo info = Mavo2ClassInfo();
  if (info.modulePath.isEmpty()) return SELFREG_E_CLASS;
  ClassRegistry registry;
  return registry.Update([&](ClassRegistry& r) { r.WriteControlClass(info); }) ? S_OK
                                                                               : SELFREG_E_CLASS;
}

CF_COM_EXPORT HRESULT DllUnregisterServer() {
  ClassRegistry registry;
  return registry.Update([&](ClassRegistry& r) { r.RemoveControlClass(Mavo2ClassInfo()); })
             ? S_OK
             : SELFREG_E_CLASS;
}

CF_COM_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kqmavo2::CLSID_mavo2) return CLASS_E_CLASSNOTAVAILABLE;
  return ClassFactory::Create([] { return kqmavo2::Mavo2Control::Create(); }, iid, object);
}

CF_COM_EXPORT HRESULT DllCanUnloadNow() { return ModuleLock::CanUnloadNow(); }
