// MP4Box FILE -inter N -out FILE: interleaves an MP4 in N-millisecond chunks with the index in
// front. Without -out the file is rewritten in place.

#include "tools/mp4box/Mp4Interleaver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Longest chunk accepted: an hour, far beyond anything useful for streaming.
constexpr long kMaxChunkMs = 3600000;

int Usage() {
  std::fprintf(stderr, "usage: MP4Box FILE -inter MILLISECONDS [-out FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input;
  std::string output;
  long chunkMs = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-inter" && i + 1 < argc) {
      char* end = nullptr;
      chunkMs = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || chunkMs < 1 || chunkMs > kMaxChunkMs) return Usage();
    } else if (arg == "-out" && i + 1 < argc) {
      output = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
      input = arg;
    } else {
      return Usage();
    }
  }
  if (input.empty() || chunkMs < 1) return Usage();
  if (output.empty()) output = input;
  std::string error;
  if (!Mp4Interleaver::Interleave(input, output, static_cast<int>(chunkMs), &error)) {
    std::fprintf(stderr, "MP4Box: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
