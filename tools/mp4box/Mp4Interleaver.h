#pragma once

#include <string>

// Rewrites an MP4 so that its audio and video samples alternate in chunks of a given length and
// the index (moov) comes before the media data, so that a player can start before the whole file
// has arrived. Stream data is copied, never re-encoded.
class Mp4Interleaver {
 public:
  // Writes `output` (through a temporary file beside it, so a failed run leaves nothing behind).
  // False with `error` set when the input is not an MP4/MOV file or cannot be read or written.
  static bool Interleave(const std::string& input, const std::string& output, int chunkMs,
                         std::string* error);
};
