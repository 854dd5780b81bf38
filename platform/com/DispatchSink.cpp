#include "platform/com/DispatchSink.h"

namespace cf::com {

ComPtr<DispatchSink> DispatchSink::Create(const IID& eventIid) {
  return ComPtr<DispatchSink>(new DispatchSink(eventIid));
}

void DispatchSink::On(DISPID member, std::function<void()> handler) {
  handlers_[member] = std::move(handler);
}

HRESULT DispatchSink::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == eventIid_) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DispatchSink::AddRef() { return references_.fetch_add(1) + 1; }

ULONG DispatchSink::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT DispatchSink::GetIDsOfNames(const IID&, const OLECHAR**, ULONG, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT DispatchSink::Invoke(DISPID member, const IID&, LCID, WORD, DispParams*, Variant* result) {
  if (result != nullptr) VariantClear(result);
  const auto found = handlers_.find(member);
  if (found != handlers_.end() && found->second) {
    // Keep this sink alive even if the handler disconnects and drops it.
    ComPtr<DispatchSink> self(this);
    const auto handler = found->second;
    handler();
  }
  return S_OK;
}

}  // namespace cf::com
