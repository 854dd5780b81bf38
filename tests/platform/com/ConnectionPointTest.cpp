#include "platform/com/ClassFactory.h"
#include "platform/com/ConnectionPoint.h"
#include "platform/com/DispatchSink.h"

#include <gtest/gtest.h>

namespace {

using namespace cf::com;

constexpr IID kEvents = Guid::Parse("{9B739684-14D2-447F-865E-28E21576139A}");
constexpr IID kOtherEvents = Guid::Parse("{00000000-1111-2222-3333-444444444444}");

// An owner object whose reference count the connection point borrows.
class Owner final : public IUnknown {
 public:
  HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  ULONG references = 1;
};

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(ConnectionPoint, FiresEverySinkInConnectionOrderAndDropsDisconnectedOnes) {
  Owner owner;
  ConnectionPoint point(&owner, kEvents);
  std::vector<int> calls;
  auto first = DispatchSink::Create(kEvents);
  auto second = DispatchSink::Create(kEvents);
  DWORD firstCookie = 0;
  DWORD secondCookie = 0;
  first->On(3, [&] { calls.push_back(1); });
  // The second sink disconnects itself while being called.
  second->On(3, [&] {
    calls.push_back(2);
    point.Unadvise(secondCookie);
  });
  ASSERT_EQ(point.Advise(first.get(), &firstCookie), S_OK);
  ASSERT_EQ(point.Advise(second.get(), &secondCookie), S_OK);
  EXPECT_NE(firstCookie, secondCookie);
  EXPECT_EQ(References(second.get()), 2u);

  point.Fire(3);
  point.Fire(3);
  point.Fire(4);  // no handler: accepted and ignored
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(References(second.get()), 1u);
  EXPECT_EQ(point.Unadvise(secondCookie), CONNECT_E_NOCONNECTION);

  point.DisconnectAll();
  EXPECT_EQ(References(first.get()), 1u);
  EXPECT_EQ(owner.references, 1u);
}

TEST(ConnectionPoint, RefusesSinksThatDoNotSpeakTheEventInterface) {
  Owner owner;
  ConnectionPoint point(&owner, kEvents);
  auto sink = DispatchSink::Create(kOtherEvents);
  DWORD cookie = 99;
  EXPECT_EQ(point.Advise(sink.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point.Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point.ConnectionCount(), 0u);
  IID iid;
  EXPECT_EQ(point.GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, kEvents);
  // References taken on the point are the owner's.
  ComPtr<IConnectionPoint> held(&point);
  EXPECT_EQ(owner.references, 2u);
}

// A plain object that counts how many of its kind are alive.
class Counted final : public IUnknown {
 public:
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = nullptr;
    if (iid != IUnknown::kIid) return E_NOINTERFACE;
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ~Counted() { --*alive_; }
  int* alive_;
  ULONG references_ = 0;
};

TEST(ClassFactory, CreatesQueriedObjectsAndRefusesAggregation) {
  int created = 0;
  int alive = 0;
  void* factoryObject = nullptr;
  ASSERT_EQ(ClassFactory::Create(
                [&]() -> IUnknown* {
                  ++created;
                  return new Counted(&alive);
                },
                IClassFactory::kIid, &factoryObject),
            S_OK);
  auto factory = ComPtr<IClassFactory>::Attach(static_cast<IClassFactory*>(factoryObject));
  void* object = nullptr;
  Owner outer;
  EXPECT_EQ(factory->CreateInstance(&outer, IUnknown::kIid, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, kOtherEvents, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(alive, 0);  // the refused object was freed
  ASSERT_EQ(factory->CreateInstance(nullptr, IUnknown::kIid, &object), S_OK);
  auto instance = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(object));
  EXPECT_EQ(References(instance.get()), 1u);
  EXPECT_EQ(created, 2);
  instance.Reset();
  EXPECT_EQ(alive, 0);
}

}  // namespace
