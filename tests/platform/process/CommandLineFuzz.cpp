#include "platform/process/CommandLine.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString line =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto arguments = CommandLine::Split(line);
  // Every argument quoted again must split back to itself.
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const auto again =
        CommandLine::Split(QStringLiteral("p ") + CommandLine::Quote(arguments[i].text));
    if (again.size() != 2 || again[1].text != arguments[i].text) __builtin_trap();
  }
  return 0;
}
