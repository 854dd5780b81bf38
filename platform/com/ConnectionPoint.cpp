#include "platform/com/ConnectionPoint.h"

#include <algorithm>

namespace cf::com {

ConnectionPoint::ConnectionPoint(IUnknown* owner, const IID& eventIid)
    : owner_(owner), eventIid_(eventIid) {}

ConnectionPoint::~ConnectionPoint() { DisconnectAll(); }

HRESULT ConnectionPoint::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IUnknown::kIid || iid == IConnectionPoint::kIid) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() { return owner_->AddRef(); }

ULONG ConnectionPoint::Release() { return owner_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = eventIid_;
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie != nullptr) *cookie = 0;
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  // The sink must speak the event interface; it is called through its dispatch entry.
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(eventIid_, dispatch.OutVoid())) || !dispatch) {
    return CONNECT_E_CANNOTCONNECT;
  }
  *cookie = nextCookie_++;
  sinks_.push_back({*cookie, std::move(dispatch)});
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  const auto found = std::find_if(sinks_.begin(), sinks_.end(),
                                  [cookie](const Connection& c) { return c.cookie == cookie; });
  if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
  // Erase first, release after: the sink's release may re-enter this point.
  ComPtr<IDispatch> released = std::move(found->sink);
  sinks_.erase(found);
  return S_OK;
}

void ConnectionPoint::Fire(DISPID member) {
  const std::vector<Connection> snapshot = sinks_;
  for (const Connection& connection : snapshot) {
    DispParams none;
    connection.sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr);
  }
}

void ConnectionPoint::DisconnectAll() {
  std::vector<Connection> released;
  released.swap(sinks_);
}

}  // namespace cf::com
