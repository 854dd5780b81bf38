#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVIOContext;

// Opens the recording inside a media store for demuxing: libavformat reads the payload bytes
// only, as if they were a file of their own.
class PayloadInput {
 public:
  PayloadInput() = default;
  ~PayloadInput();
  PayloadInput(const PayloadInput&) = delete;
  PayloadInput& operator=(const PayloadInput&) = delete;

  bool Open(const std::string& store, std::string* error);
  AVFormatContext* context() const { return context_; }

 private:
  static int Read(void* opaque, uint8_t* buffer, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);

  int fd_ = -1;
  int64_t offset_ = 0;
  int64_t length_ = 0;
  int64_t position_ = 0;
  AVIOContext* io_ = nullptr;
  AVFormatContext* context_ = nullptr;
};
