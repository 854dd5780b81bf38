// kqmedia: makes and checks a recorded project's media store.
//   kqmedia pack VIDEO media.kq                     store a video as a media store
//   kqmedia check media.kq                          exit 0 when the store is whole
//   kqmedia thumbs media.kq LIST FOLDER WIDTH HEIGHT  the slide pictures of the listed positions

#include "tools/kqlib/KqMediaStore.h"
#include "tools/kqlib/ThumbMaker.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kqmedia pack VIDEO STORE\n"
               "       kqmedia check STORE\n"
               "       kqmedia thumbs STORE LIST FOLDER WIDTH HEIGHT\n");
  return 2;
}

bool ParseSide(const char* text, int* value) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, *value);
  return result.ec == std::errc() && result.ptr == end && *value >= 1 &&
         *value <= ThumbMaker::kMaxSide;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::string error;
  if (command == "pack" && argc == 4) {
    if (!KqMediaStore::Pack(argv[2], argv[3], &error)) {
      std::fprintf(stderr, "kqmedia: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "check" && argc == 3) {
    if (!KqMediaStore::Verify(argv[2], &error)) {
      std::printf("damaged: %s\n", error.c_str());
      return 1;
    }
    std::printf("sound: %s\n", argv[2]);
    return 0;
  }
  if (command == "thumbs" && argc == 7) {
    int width = 0;
    int height = 0;
    if (!ParseSide(argv[5], &width) || !ParseSide(argv[6], &height)) return Usage();
    std::vector<int32_t> positions;
    const std::atomic<bool> cancel{false};
    if (!ThumbMaker::ReadPositionList(argv[3], &positions, &error) ||
        !ThumbMaker::Make(argv[2], positions, argv[4], width, height, nullptr, cancel, &error)) {
      std::fprintf(stderr, "kqmedia: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  return Usage();
}
