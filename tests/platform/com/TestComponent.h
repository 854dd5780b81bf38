#pragma once

#include "platform/com/ComInterfaces.h"

// The interface and identifiers of the test module's class.
inline constexpr cf::com::Guid kTestWidgetClsid =
    cf::com::Guid::Parse("{0D5C9E41-6A2B-4F7E-8C13-2B9A7D4E6F01}");
inline constexpr cf::com::Guid kTestLibId =
    cf::com::Guid::Parse("{0D5C9E41-6A2B-4F7E-8C13-2B9A7D4E6F02}");

struct ITestValue : cf::com::IUnknown {
  static constexpr cf::com::IID kIid =
      cf::com::Guid::Parse("{0D5C9E41-6A2B-4F7E-8C13-2B9A7D4E6F03}");
  virtual int Value() = 0;

 protected:
  ~ITestValue() = default;
};
