#pragma once

#include "platform/com/Bstr.h"
#include "platform/com/ComTypes.h"
#include "platform/com/Guid.h"

class QWidget;

// The interfaces every component and host of this system speaks. Objects are reference
// counted: whoever receives an interface pointer owns one reference and releases it.
namespace cf::com {

struct IUnknown {
  static constexpr IID kIid = Guid::Parse("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The value types that cross a dispatch call. Only what the system's interfaces carry.
enum VarType : WORD { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8, VT_ERROR = 10 };

struct Variant {
  VarType vt = VT_EMPTY;
  LONG lVal = 0;
  BSTR bstrVal = nullptr;  // owned by the variant when vt is VT_BSTR
};

// Clears a variant, freeing its string.
inline void VariantClear(Variant* value) {
  if (value == nullptr) return;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  *value = Variant{};
}

// Arguments of an Invoke call, last argument first as dispatch calls order them.
struct DispParams {
  Variant* args = nullptr;
  DISPID* namedArgs = nullptr;
  ULONG argCount = 0;
  ULONG namedArgCount = 0;
};

struct IDispatch : IUnknown {
  static constexpr IID kIid = Guid::Parse("{00020400-0000-0000-C000-000000000046}");
  virtual HRESULT GetIDsOfNames(const IID& iid, const OLECHAR** names, ULONG count, LCID locale,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, const IID& iid, LCID locale, WORD flags, DispParams* params,
                         Variant* result) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  static constexpr IID kIid = Guid::Parse("{00000001-0000-0000-C000-000000000046}");
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IConnectionPoint : IUnknown {
  static constexpr IID kIid = Guid::Parse("{B196B286-BAB4-101A-B69C-00AA00341D07}");
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr IID kIid = Guid::Parse("{B196B284-BAB4-101A-B69C-00AA00341D07}");
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

// In-place activation of a control: the host gives it a parent widget and the control creates
// its own window there. A control is window-only; it cannot be activated without a parent.
struct IInPlaceControl : IUnknown {
  static constexpr IID kIid = Guid::Parse("{5C6F1E2A-7D43-4B8E-9A51-3E2F6B0C9D14}");
  virtual HRESULT Activate(QWidget* parent) = 0;
  virtual QWidget* Window() = 0;

 protected:
  ~IInPlaceControl() = default;
};

}  // namespace cf::com
