#include "tools/kqserver/ZipArchiveCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace kqserver {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kEnd64Signature = 0x06064b50;
constexpr uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kEnd64LocatorSize = 20;
constexpr size_t kEnd64Size = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxComment = 65535;
constexpr uint64_t kMaxEntries = 1000000;
constexpr uint16_t kZip64ExtraTag = 0x0001;

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const unsigned char* p) {
  return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}

class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool Size(uint64_t* size) const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }
  bool Read(uint64_t offset, size_t count, std::vector<unsigned char>* bytes) const {
    bytes->resize(count);
    size_t done = 0;
    while (done < count) {
      const ssize_t got =
          ::pread(fd_, bytes->data() + done, count - done, static_cast<off_t>(offset + done));
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
};

bool Fail(std::string* problem, const char* text) {
  if (problem) *problem = text;
  return false;
}

}  // namespace

bool ZipArchiveCheck::Check(const std::string& path, std::string* problem, uint64_t* entries) {
  File file(path);
  uint64_t size = 0;
  if (!file.ok() || !file.Size(&size)) return Fail(problem, "the archive cannot be read");
  if (size < kEndSize) return Fail(problem, "the file is too short to be a zip archive");

  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + kMaxComment));
  std::vector<unsigned char> tail;
  if (!file.Read(size - tailSize, tailSize, &tail))
    return Fail(problem, "the archive cannot be read");
  size_t endAt = tailSize;  // position of the end record within tail
  for (size_t i = tailSize - kEndSize + 1; i-- > 0;) {
    if (U32(&tail[i]) == kEndSignature && i + kEndSize + U16(&tail[i + 20]) == tailSize) {
      endAt = i;
      break;
    }
  }
  if (endAt == tailSize) return Fail(problem, "no end of central directory record");
  const unsigned char* end = &tail[endAt];
  const uint64_t endOffset = size - tailSize + endAt;
  if (U16(end + 4) != 0 || U16(end + 6) != 0) {
    return Fail(problem, "archives split over several disks are not accepted");
  }
  uint64_t count = U16(end + 10);
  uint64_t directorySize = U32(end + 12);
  uint64_t directoryOffset = U32(end + 16);
  uint64_t directoryLimit = endOffset;

  if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
    std::vector<unsigned char> locator;
    if (endOffset < kEnd64LocatorSize ||
        !file.Read(endOffset - kEnd64LocatorSize, kEnd64LocatorSize, &locator) ||
        U32(locator.data()) != kEnd64LocatorSignature) {
      return Fail(problem, "the zip64 end record locator is missing");
    }
    const uint64_t end64Offset = U64(&locator[8]);
    std::vector<unsigned char> end64;
    if (end64Offset + kEnd64Size > endOffset - kEnd64LocatorSize ||
        !file.Read(end64Offset, kEnd64Size, &end64) || U32(end64.data()) != kEnd64Signature) {
      return Fail(problem, "the zip64 end record is damaged");
    }
    count = U64(&end64[32]);
    directorySize = U64(&end64[40]);
    directoryOffset = U64(&end64[48]);
    directoryLimit = end64Offset;
  }
  if (count == 0) return Fail(problem, "the archive holds no files");
  if (count > kMaxEntries) return Fail(problem, "the archive lists too many files");
  if (directoryOffset > directoryLimit || directorySize > directoryLimit - directoryOffset) {
    return Fail(problem, "the central directory lies outside the file");
  }

  uint64_t at = directoryOffset;
  const uint64_t directoryEnd = directoryOffset + directorySize;
  std::vector<unsigned char> header;
  std::vector<unsigned char> extra;
  for (uint64_t n = 0; n < count; ++n) {
    if (directoryEnd - at < kCentralSize || !file.Read(at, kCentralSize, &header) ||
        U32(header.data()) != kCentralSignature) {
      return Fail(problem, "a central directory entry is damaged");
    }
    uint64_t compressed = U32(&header[20]);
    uint64_t uncompressed = U32(&header[24]);
    const uint16_t nameLength = U16(&header[28]);
    const uint16_t extraLength = U16(&header[30]);
    const uint16_t commentLength = U16(&header[32]);
    uint64_t localOffset = U32(&header[42]);
    const uint64_t entrySize = kCentralSize + nameLength + extraLength + commentLength;
    if (directoryEnd - at < entrySize) return Fail(problem, "a central directory entry is damaged");
    if (extraLength > 0 && !file.Read(at + kCentralSize + nameLength, extraLength, &extra)) {
      return Fail(problem, "the archive cannot be read");
    }
    // Sizes and offsets that do not fit 32 bits sit in the zip64 extra field, in this order.
    for (size_t e = 0; extraLength > 0 && e + 4 <= extra.size();) {
      const uint16_t tag = U16(&extra[e]);
      const uint16_t length = U16(&extra[e + 2]);
      if (e + 4 + length > extra.size()) break;
      if (tag == kZip64ExtraTag) {
        size_t f = e + 4;
        const size_t fieldEnd = f + length;
        auto take = [&](uint64_t* value) {
          if (*value == 0xFFFFFFFF && f + 8 <= fieldEnd) {
            *value = U64(&extra[f]);
            f += 8;
          }
        };
        take(&uncompressed);
        take(&compressed);
        take(&localOffset);
      }
      e += 4 + length;
    }
    std::vector<unsigned char> local;
    if (localOffset > directoryOffset || directoryOffset - localOffset < kLocalSize ||
        !file.Read(localOffset, kLocalSize, &local) || U32(local.data()) != kLocalSignature ||
        U16(&local[26]) != nameLength) {
      return Fail(problem, "a file's local header is missing or damaged");
    }
    const uint64_t dataStart = localOffset + kLocalSize + U16(&local[26]) + U16(&local[28]);
    if (dataStart > directoryOffset || compressed > directoryOffset - dataStart) {
      return Fail(problem, "a file's data runs past the central directory");
    }
    at += entrySize;
  }
  if (entries) *entries = count;
  return true;
}

}  // namespace kqserver
