#include "platform/com/ClassFactory.h"

#include "platform/com/ModuleLock.h"

#include <new>

namespace cf::com {

ClassFactory::ClassFactory(CreateFunction create) : create_(std::move(create)) {
  ModuleLock::Lock();
}

ClassFactory::~ClassFactory() { ModuleLock::Unlock(); }

HRESULT ClassFactory::Create(CreateFunction create, const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  auto* factory = new (std::nothrow) ClassFactory(std::move(create));
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

HRESULT ClassFactory::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IUnknown::kIid || iid == IClassFactory::kIid) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() { return references_.fetch_add(1) + 1; }

ULONG ClassFactory::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  IUnknown* instance = create_ ? create_() : nullptr;
  if (instance == nullptr) return E_OUTOFMEMORY;
  // Hold the object while querying, so a refused interface still frees it.
  instance->AddRef();
  const HRESULT hr = instance->QueryInterface(iid, object);
  instance->Release();
  return hr;
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ModuleLock::Lock();
  } else {
    ModuleLock::Unlock();
  }
  return S_OK;
}

}  // namespace cf::com
