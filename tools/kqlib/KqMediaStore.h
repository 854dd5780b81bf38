#pragma once

#include <cstdint>
#include <string>

// A project's media store (media.kq): "KQMS", the format version (32 bits), the payload length
// (64 bits), the payload, then the CRC-32 of the payload; numbers little-endian. The payload is
// the recording itself, a media file libavformat reads.
class KqMediaStore {
 public:
  static constexpr char kMagic[4] = {'K', 'Q', 'M', 'S'};
  static constexpr uint32_t kFormatVersion = 1;
  static constexpr int64_t kHeaderBytes = 16;
  static constexpr int64_t kTrailerBytes = 4;

  // Where the payload lies inside a store whose header has been checked.
  struct Payload {
    int64_t offset = kHeaderBytes;
    int64_t length = 0;
  };

  // Writes `video` into a new store at `store` (through a temporary file beside it, so a failed
  // pack never leaves a half store). The video must be a media file with a video stream.
  static bool Pack(const std::string& video, const std::string& store, std::string* error);

  // True when the store is whole: known header, a length that matches the file, and a checksum
  // that matches the payload.
  static bool Verify(const std::string& store, std::string* error);

  // Checks the header and the file length only (no checksum), for readers of the payload.
  static bool ReadPayload(const std::string& store, Payload* payload, std::string* error);

  // CRC-32 (as zip and PNG compute it), continued from `crc` over `size` bytes.
  static uint32_t Crc32(uint32_t crc, const void* data, size_t size);
};
