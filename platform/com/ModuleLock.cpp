#include "platform/com/ModuleLock.h"

#include <atomic>

namespace cf::com {
namespace {
std::atomic<ULONG> lockCount{0};
}

void ModuleLock::Lock() { lockCount.fetch_add(1); }
void ModuleLock::Unlock() { lockCount.fetch_sub(1); }
ULONG ModuleLock::Count() { return lockCount.load(); }

}  // namespace cf::com
