#include "app/media/VideoProbe.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString output =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (const bool quiet : {false, true}) {
    VideoInfo info;
    QString failure;
    if (ParseProbeOutput(output, quiet, &info, &failure)) {
      // A successful read always has a usable frame size.
      if (info.codedWidth < 1 || info.codedHeight < 1 || info.displayWidth != info.codedWidth)
        __builtin_trap();
    } else if (failure.isEmpty()) {
      __builtin_trap();
    }
  }
  return 0;
}
