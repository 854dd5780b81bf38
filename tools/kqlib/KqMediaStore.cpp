#include "tools/kqlib/KqMediaStore.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/crc.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChunkBytes = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemError(const std::string& path) { return path + ": " + std::strerror(errno); }

void PutLittleEndian(uint64_t value, int bytes, unsigned char* out) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLittleEndian(const unsigned char* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

bool HasVideoStream(const std::string& video, std::string* error) {
  AVFormatContext* context = nullptr;
  int rc = avformat_open_input(&context, video.c_str(), nullptr, nullptr);
  if (rc < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof(text));
    *error = video + ": " + text;
    return false;
  }
  rc = avformat_find_stream_info(context, nullptr);
  const bool found =
      rc >= 0 && av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) >= 0;
  avformat_close_input(&context);
  if (!found) *error = video + ": no video stream";
  return found;
}

}  // namespace

uint32_t KqMediaStore::Crc32(uint32_t crc, const void* data, size_t size) {
  static const AVCRC* table = av_crc_get_table(AV_CRC_32_IEEE_LE);
  return av_crc(table, crc ^ 0xFFFFFFFFu, static_cast<const uint8_t*>(data), size) ^ 0xFFFFFFFFu;
}

bool KqMediaStore::Pack(const std::string& video, const std::string& store, std::string* error) {
  if (!HasVideoStream(video, error)) return false;
  File in(std::fopen(video.c_str(), "rb"));
  if (!in) {
    *error = SystemError(video);
    return false;
  }
  const std::string temporary = store + ".part";
  File out(std::fopen(temporary.c_str(), "wb"));
  if (!out) {
    *error = SystemError(temporary);
    return false;
  }
  const auto fail = [&](const std::string& text) {
    *error = text;
    out.reset();
    std::remove(temporary.c_str());
    return false;
  };

  unsigned char header[kHeaderBytes] = {};
  std::memcpy(header, kMagic, sizeof(kMagic));
  PutLittleEndian(kFormatVersion, 4, header + 4);
  // The length is written once the payload has been copied.
  if (std::fwrite(header, 1, sizeof(header), out.get()) != sizeof(header)) {
    return fail(SystemError(temporary));
  }
  std::vector<unsigned char> chunk(kChunkBytes);
  uint32_t crc = 0;
  uint64_t length = 0;
  for (;;) {
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), in.get());
    if (got > 0) {
      crc = Crc32(crc, chunk.data(), got);
      length += got;
      if (std::fwrite(chunk.data(), 1, got, out.get()) != got) return fail(SystemError(temporary));
    }
    if (got < chunk.size()) {
      if (std::ferror(in.get())) return fail(SystemError(video));
      break;
    }
  }
  unsigned char trailer[kTrailerBytes];
  PutLittleEndian(crc, 4, trailer);
  unsigned char lengthBytes[8];
  PutLittleEndian(length, 8, lengthBytes);
  if (std::fwrite(trailer, 1, sizeof(trailer), out.get()) != sizeof(trailer) ||
      std::fseek(out.get(), 8, SEEK_SET) != 0 ||
      std::fwrite(lengthBytes, 1, sizeof(lengthBytes), out.get()) != sizeof(lengthBytes) ||
      std::fflush(out.get()) != 0 || ::fsync(fileno(out.get())) != 0) {
    return fail(SystemError(temporary));
  }
  if (std::fclose(out.release()) != 0) return fail(SystemError(temporary));
  if (std::rename(temporary.c_str(), store.c_str()) != 0) {
    *error = SystemError(store);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool KqMediaStore::ReadPayload(const std::string& store, Payload* payload, std::string* error) {
  File in(std::fopen(store.c_str(), "rb"));
  if (!in) {
    *error = SystemError(store);
    return false;
  }
  struct stat info = {};
  if (::fstat(fileno(in.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = store + ": not a file";
    return false;
  }
  unsigned char header[kHeaderBytes];
  if (info.st_size < kHeaderBytes + kTrailerBytes ||
      std::fread(header, 1, sizeof(header), in.get()) != sizeof(header)) {
    *error = store + ": too short for a media store";
    return false;
  }
  if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0) {
    *error = store + ": not a media store";
    return false;
  }
  const uint64_t version = GetLittleEndian(header + 4, 4);
  if (version != kFormatVersion) {
    *error = store + ": media store format " + std::to_string(version) + " is not supported";
    return false;
  }
  const uint64_t length = GetLittleEndian(header + 8, 8);
  const uint64_t expected = static_cast<uint64_t>(info.st_size - kHeaderBytes - kTrailerBytes);
  if (length != expected || length == 0) {
    *error = store + ": the payload length does not match the file (cut short or grown)";
    return false;
  }
  payload->offset = kHeaderBytes;
  payload->length = static_cast<int64_t>(length);
  return true;
}

bool KqMediaStore::Verify(const std::string& store, std::string* error) {
  Payload payload;
  if (!ReadPayload(store, &payload, error)) return false;
  File in(std::fopen(store.c_str(), "rb"));
  if (!in || std::fseek(in.get(), static_cast<long>(payload.offset), SEEK_SET) != 0) {
    *error = SystemError(store);
    return false;
  }
  std::vector<unsigned char> chunk(kChunkBytes);
  uint32_t crc = 0;
  int64_t left = payload.length;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kChunkBytes));
    const size_t got = std::fread(chunk.data(), 1, want, in.get());
    if (got != want) {
      *error = SystemError(store);
      return false;
    }
    crc = Crc32(crc, chunk.data(), got);
    left -= static_cast<int64_t>(got);
  }
  unsigned char trailer[kTrailerBytes];
  if (std::fread(trailer, 1, sizeof(trailer), in.get()) != sizeof(trailer)) {
    *error = SystemError(store);
    return false;
  }
  if (GetLittleEndian(trailer, 4) != crc) {
    *error = store + ": the payload does not match its checksum";
    return false;
  }
  return true;
}
