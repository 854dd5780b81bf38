// mp4GetKeyFrame MP4 LIST: writes the keyframe times of the video, in seconds, one per line.

#include "tools/mp4keyframes/KeyframeLister.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mp4GetKeyFrame VIDEO LIST\n");
    return 2;
  }
  std::vector<double> times;
  std::string error;
  if (!KeyframeLister::List(argv[1], &times, &error)) {
    std::fprintf(stderr, "mp4GetKeyFrame: %s\n", error.c_str());
    return 1;
  }
  // Written beside and renamed, so that a list is either complete or absent.
  const std::string list = argv[2];
  const std::string part = list + ".part";
  std::FILE* file = std::fopen(part.c_str(), "w");
  if (file == nullptr) {
    std::perror(("mp4GetKeyFrame: " + part).c_str());
    return 1;
  }
  bool written = true;
  for (const double time : times) {
    written = written && std::fprintf(file, "%s\n", KeyframeLister::Format(time).c_str()) > 0;
  }
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(part.c_str(), list.c_str()) != 0) {
    std::remove(part.c_str());
    std::fprintf(stderr, "mp4GetKeyFrame: cannot write %s\n", list.c_str());
    return 1;
  }
  return 0;
}
