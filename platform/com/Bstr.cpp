#include "platform/com/Bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace cf::com {
namespace {

using Prefix = std::uint32_t;

Prefix* PrefixOf(BSTR text) {
  return reinterpret_cast<Prefix*>(reinterpret_cast<char*>(text) - sizeof(Prefix));
}

std::uint32_t UnitLength(const OLECHAR* text) {
  std::uint32_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
  // The byte count must fit the 32-bit prefix.
  constexpr std::uint32_t kMaxUnits = (std::numeric_limits<std::uint32_t>::max() - 16) / 2 - 8;
  if (length > kMaxUnits) return nullptr;
  const std::size_t bytes = sizeof(Prefix) + (std::size_t{length} + 1) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  const Prefix byteCount = length * static_cast<Prefix>(sizeof(OLECHAR));
  std::memcpy(block, &byteCount, sizeof(Prefix));
  auto* units = reinterpret_cast<OLECHAR*>(block + sizeof(Prefix));
  if (text != nullptr) {
    std::memcpy(units, text, std::size_t{length} * sizeof(OLECHAR));
  } else {
    std::memset(units, 0, std::size_t{length} * sizeof(OLECHAR));
  }
  units[length] = 0;
  return units;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, UnitLength(text));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(PrefixOf(text));
}

std::uint32_t SysStringByteLen(BSTR text) { return text == nullptr ? 0 : *PrefixOf(text); }

std::uint32_t SysStringLen(BSTR text) {
  return SysStringByteLen(text) / static_cast<std::uint32_t>(sizeof(OLECHAR));
}

Bstr::Bstr(const QString& text)
    : text_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                              static_cast<std::uint32_t>(text.size()))) {}

Bstr::Bstr(const char16_t* text) : text_(SysAllocString(text)) {}

Bstr::Bstr(const Bstr& other) : text_(other.Copy()) {}

Bstr::Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}

Bstr& Bstr::operator=(const Bstr& other) {
  if (this != &other) {
    BSTR copy = other.Copy();
    SysFreeString(text_);
    text_ = copy;
  }
  return *this;
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(text_);
    text_ = std::exchange(other.text_, nullptr);
  }
  return *this;
}

Bstr::~Bstr() { SysFreeString(text_); }

Bstr Bstr::Attach(BSTR text) {
  Bstr owner;
  owner.text_ = text;
  return owner;
}

BSTR Bstr::Detach() { return std::exchange(text_, nullptr); }

BSTR Bstr::Copy() const {
  if (text_ == nullptr) return nullptr;
  return SysAllocStringLen(text_, SysStringLen(text_));
}

BSTR* Bstr::Out() {
  SysFreeString(text_);
  text_ = nullptr;
  return &text_;
}

QString Bstr::ToQString() const { return ToQString(text_); }

QString Bstr::ToQString(BSTR text) {
  if (text == nullptr) return {};
  return QString::fromUtf16(text, static_cast<qsizetype>(SysStringLen(text)));
}

}  // namespace cf::com
