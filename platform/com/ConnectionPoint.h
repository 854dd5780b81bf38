#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComPtr.h"

#include <vector>

namespace cf::com {

// The outgoing side of one event interface, embedded in the object that fires the events. Its
// lifetime is its owner's: references taken on it are taken on the owner.
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IUnknown* owner, const IID& eventIid);
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;

  // Calls the event `member` on every connected sink, in connection order, with no arguments.
  // Each sink is held for the duration of its call, so a sink may disconnect from its handler.
  void Fire(DISPID member);
  // Drops every connection (the owner is going away).
  void DisconnectAll();
  std::size_t ConnectionCount() const { return sinks_.size(); }
  const IID& EventIid() const { return eventIid_; }

 private:
  struct Connection {
    DWORD cookie;
    ComPtr<IDispatch> sink;
  };

  IUnknown* owner_;
  IID eventIid_;
  std::vector<Connection> sinks_;
  DWORD nextCookie_ = 1;
};

}  // namespace cf::com
