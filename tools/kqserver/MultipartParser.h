#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kqserver {

// Streaming reader of multipart/form-data bodies. Bytes may arrive in pieces of any size; memory
// stays bounded by the limits below whatever the body's length, so file parts of any size pass
// straight through to the receiver.
class MultipartParser {
 public:
  class Receiver {
   public:
    virtual ~Receiver() = default;
    virtual bool OnField(const std::string& name, const std::string& value) = 0;
    virtual bool OnFileBegin(const std::string& name, const std::string& fileName) = 0;
    virtual bool OnFileData(const char* data, size_t size) = 0;
    virtual bool OnFileEnd() = 0;
  };

  struct Limits {
    size_t maxParts = 64;
    size_t maxHeaderBytes = 8192;  // all header lines of one part together
    size_t maxFieldBytes = 8192;   // the value of one plain form field
    size_t maxPreambleBytes = 8192;
  };

  MultipartParser(std::string boundary, Receiver* receiver);
  MultipartParser(std::string boundary, Receiver* receiver, Limits limits);

  // Takes the next piece of the body. False once the body is malformed, exceeds a limit or the
  // receiver refused a call; Error() then says why and later calls keep failing.
  bool Feed(const char* data, size_t size);
  // True when the closing delimiter was seen and nothing failed.
  bool Finish();

  const std::string& Error() const { return error_; }
  bool Complete() const { return state_ == State::kEpilogue; }
  uint64_t FileBytes() const { return fileBytes_; }

  // Reads the boundary out of a Content-Type value such as
  // "multipart/form-data; boundary=Qu1llbox5_Xu02=$" (quoted or not).
  static bool BoundaryFromContentType(std::string_view contentType, std::string* boundary);

 private:
  enum class State { kPreamble, kAfterDelimiter, kHeaders, kBody, kEpilogue, kFailed };

  bool Fail(std::string reason);
  bool ParseHeaderLine(std::string_view line);
  bool BeginPart();
  // Takes body bytes straight from the caller's piece: consumes what it can (up to and including
  // a delimiter) and leaves the rest, if any, to the general path. False once something failed.
  bool FeedBody(const char*& data, size_t& size);
  // Gathers bytes in the buffer and parses what it can of them.
  bool FeedBuffered(const char* data, size_t size);
  // Where the delimiter starts in the bytes, or npos.
  size_t FindDelimiter(const char* data, size_t size) const;
  bool EmitBody(const char* data, size_t size);
  bool EndPart();

  std::string delimiter_;           // CR LF "--" boundary
  std::array<size_t, 256> skip_{};  // how far the search moves after each byte value
  Receiver* receiver_;
  Limits limits_;
  State state_ = State::kPreamble;
  std::string buffer_;
  std::string error_;
  size_t parts_ = 0;
  size_t headerBytes_ = 0;
  size_t preambleBytes_ = 0;
  size_t padding_ = 0;
  bool hasDisposition_ = false;
  bool isFile_ = false;
  std::string partName_;
  std::string fileName_;
  std::string fieldValue_;
  uint64_t fileBytes_ = 0;
};

}  // namespace kqserver
