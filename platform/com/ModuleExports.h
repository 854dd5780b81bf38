#pragma once

#include "platform/com/ComInterfaces.h"

// The four entry points an in-process component module exports with C linkage, looked up by
// name after the module is loaded:
//   HRESULT DllRegisterServer();      writes the module's classes into the class registry
//   HRESULT DllUnregisterServer();    removes them
//   HRESULT DllGetClassObject(const CLSID&, const IID&, void**);  hands out a class factory
//   HRESULT DllCanUnloadNow();        S_OK when no object of the module is alive
namespace cf::com {

using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
using DllGetClassObjectFn = HRESULT (*)(const CLSID& clsid, const IID& iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();

inline constexpr char kDllRegisterServer[] = "DllRegisterServer";
inline constexpr char kDllUnregisterServer[] = "DllUnregisterServer";
inline constexpr char kDllGetClassObject[] = "DllGetClassObject";
inline constexpr char kDllCanUnloadNow[] = "DllCanUnloadNow";

}  // namespace cf::com

#define CF_COM_EXPORT extern "C" __attribute__((visibility("default")))
