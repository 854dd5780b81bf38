#pragma once

#include "platform/com/ComTypes.h"

namespace cf::com {

// Counts the live objects and server locks of one loaded module; the module may be unloaded
// only while the count is zero. Each module links its own copy of this layer, so the count is
// per module.
class ModuleLock {
 public:
  static void Lock();
  static void Unlock();
  static ULONG Count();
  // What a module's DllCanUnloadNow answers.
  static HRESULT CanUnloadNow() { return Count() == 0 ? S_OK : S_FALSE; }
};

}  // namespace cf::com
