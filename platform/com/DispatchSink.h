#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComPtr.h"

#include <atomic>
#include <functional>
#include <map>

namespace cf::com {

// An event sink for a host: answers for one event interface and calls the handler registered
// for each DISPID. Events without a handler are accepted and ignored.
class DispatchSink final : public IDispatch {
 public:
  static ComPtr<DispatchSink> Create(const IID& eventIid);

  void On(DISPID member, std::function<void()> handler);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetIDsOfNames(const IID& iid, const OLECHAR** names, ULONG count, LCID locale,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID member, const IID& iid, LCID locale, WORD flags, DispParams* params,
                 Variant* result) override;

 private:
  explicit DispatchSink(const IID& eventIid) : eventIid_(eventIid) {}
  ~DispatchSink() = default;

  IID eventIid_;
  std::map<DISPID, std::function<void()>> handlers_;
  std::atomic<ULONG> references_{0};
};

}  // namespace cf::com
