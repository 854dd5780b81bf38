#include "tools/kqlib/PayloadInput.h"

#include "tools/kqlib/KqMediaStore.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kBufferBytes = 64 * 1024;

}  // namespace

PayloadInput::~PayloadInput() {
  if (context_) avformat_close_input(&context_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  if (fd_ >= 0) ::close(fd_);
}

bool PayloadInput::Open(const std::string& store, std::string* error) {
  KqMediaStore::Payload payload;
  if (!KqMediaStore::ReadPayload(store, &payload, error)) return false;
  fd_ = ::open(store.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    *error = store + ": " + std::strerror(errno);
    return false;
  }
  offset_ = payload.offset;
  length_ = payload.length;
  position_ = 0;

  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (!buffer) {
    *error = "out of memory";
    return false;
  }
  io_ = avio_alloc_context(buffer, kBufferBytes, 0, this, &PayloadInput::Read, nullptr,
                           &PayloadInput::Seek);
  if (!io_) {
    av_free(buffer);
    *error = "out of memory";
    return false;
  }
  context_ = avformat_alloc_context();
  if (!context_) {
    *error = "out of memory";
    return false;
  }
  context_->pb = io_;
  context_->flags |= AVFMT_FLAG_CUSTOM_IO;
  int rc = avformat_open_input(&context_, nullptr, nullptr, nullptr);
  if (rc < 0) {
    // avformat_open_input frees the context on failure.
    context_ = nullptr;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof(text));
    *error = store + ": the recording cannot be read (" + text + ")";
    return false;
  }
  rc = avformat_find_stream_info(context_, nullptr);
  if (rc < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof(text));
    *error = store + ": the recording cannot be read (" + text + ")";
    return false;
  }
  return true;
}

int PayloadInput::Read(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<PayloadInput*>(opaque);
  const int64_t left = self->length_ - self->position_;
  if (left <= 0) return AVERROR_EOF;
  const size_t want = static_cast<size_t>(left < size ? left : size);
  ssize_t got;
  do {
    got = ::pread(self->fd_, buffer, want, self->offset_ + self->position_);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return AVERROR(errno);
  if (got == 0) return AVERROR_EOF;
  self->position_ += got;
  return static_cast<int>(got);
}

int64_t PayloadInput::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<PayloadInput*>(opaque);
  int64_t target = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return self->length_;
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      if (__builtin_add_overflow(self->position_, offset, &target)) return AVERROR(EINVAL);
      break;
    case SEEK_END:
      if (__builtin_add_overflow(self->length_, offset, &target)) return AVERROR(EINVAL);
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (target < 0 || target > self->length_) return AVERROR(EINVAL);
  self->position_ = target;
  return target;
}
