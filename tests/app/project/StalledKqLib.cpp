// A media library whose picture maker hangs: it reports the same time for ever and never -1.

#include <cstdint>

#define KQLIB_EXPORT extern "C" __attribute__((visibility("default")))

KQLIB_EXPORT int32_t verifyWholeKqFile(const char*) { return 1; }
KQLIB_EXPORT int32_t ThumbCreate2(const char*, const char*, const char*, int32_t, int32_t) {
  return 1;
}
KQLIB_EXPORT int32_t ThumbTime() { return 1000; }
