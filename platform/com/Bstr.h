#pragma once

#include <QString>

#include <cstdint>

namespace cf::com {

// A length-prefixed UTF-16 string: the pointer addresses the first character, a 32-bit byte
// count sits just before it and a zero unit follows the text. A null BSTR reads as empty.
// Strings crossing a component boundary are always allocated with this family, so the side
// that receives one can free it without knowing who made it.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
// Copies `length` units from `text`, or leaves them zero when `text` is null.
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length);
void SysFreeString(BSTR text);
std::uint32_t SysStringLen(BSTR text);
std::uint32_t SysStringByteLen(BSTR text);

// Owns one BSTR and frees it when it goes out of scope.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const QString& text);
  explicit Bstr(const char16_t* text);
  Bstr(const Bstr& other);
  Bstr(Bstr&& other) noexcept;
  Bstr& operator=(const Bstr& other);
  Bstr& operator=(Bstr&& other) noexcept;
  ~Bstr();

  // Takes ownership of `text`.
  static Bstr Attach(BSTR text);
  // Gives up ownership; the caller frees the result.
  BSTR Detach();
  // A fresh copy the caller owns.
  BSTR Copy() const;
  // Frees the held string and returns the slot, for [out] parameters.
  BSTR* Out();

  BSTR get() const { return text_; }
  operator BSTR() const { return text_; }
  std::uint32_t Length() const { return SysStringLen(text_); }
  bool IsNull() const { return text_ == nullptr; }
  QString ToQString() const;
  static QString ToQString(BSTR text);

 private:
  BSTR text_ = nullptr;
};

}  // namespace cf::com
