#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComPtr.h"

#include <QString>

namespace cf::com {

// Loads component modules and creates their objects, the way a host reaches a control it
// does not link: look the class up in the per-user class registry, load the registered module
// and ask its class factory. Loaded modules stay loaded for the life of the process, since
// objects and queued events of theirs may outlive any one caller.
class ComponentLoader {
 public:
  // Calls the module's DllRegisterServer / DllUnregisterServer.
  static HRESULT RegisterModule(const QString& modulePath, QString* error = nullptr);
  static HRESULT UnregisterModule(const QString& modulePath, QString* error = nullptr);

  // Registers `modulePath` when `className` does not resolve or its registered module file no
  // longer exists, so a fresh machine needs no install step. S_FALSE when nothing was needed.
  static HRESULT EnsureRegistered(const QString& className, const QString& modulePath,
                                  QString* error = nullptr);

  // Creates an object of the class named by ProgID, library class name or CLSID text.
  static HRESULT CreateInstance(const QString& className, const IID& iid, void** object,
                                QString* error = nullptr);

  // Creates a control and activates it in `parent`, where it makes its own window.
  static HRESULT CreateControl(const QString& className, QWidget* parent, ComPtr<IUnknown>* control,
                               QString* error = nullptr);

  // Asks every loaded module whether it can be unloaded; for checks of object lifetimes.
  static bool CanUnloadModule(const QString& modulePath);
};

}  // namespace cf::com
