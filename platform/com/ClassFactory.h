#pragma once

#include "platform/com/ComInterfaces.h"

#include <atomic>
#include <functional>

namespace cf::com {

// A class factory for one class: creates instances through the given function. Aggregation is
// not supported, and the factory keeps its module loaded while it lives.
class ClassFactory final : public IClassFactory {
 public:
  // `create` returns a new object with a reference count of zero, or null when out of memory.
  using CreateFunction = std::function<IUnknown*()>;

  // Returns the new factory with one reference, queried for `iid`.
  static HRESULT Create(CreateFunction create, const IID& iid, void** object);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override;
  HRESULT LockServer(bool lock) override;

 private:
  explicit ClassFactory(CreateFunction create);
  ~ClassFactory();

  CreateFunction create_;
  std::atomic<ULONG> references_{0};
};

}  // namespace cf::com
