#pragma once

#include "upload_control/src/MultipartBody.h"
#include "upload_control/src/ServerAddress.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace inet {
class HttpClient;
}

namespace kqmavo2 {

// The module's one set of HTTP handles. Every request of every control instance goes through
// it, one at a time: a worker takes the gate for its whole exchange, and a request started
// meanwhile waits for it instead of sharing the handles.
class HttpTransport {
 public:
  // Results of opening a request.
  static constexpr int kOpened = 1;
  static constexpr int kNoSession = -1;
  static constexpr int kNoConnection = -2;
  static constexpr int kNoRequest = -3;
  static constexpr int kNoHeader = -4;

  static constexpr int kDefaultReceiveTimeoutMs = 300000;
  // Parts are written whole; file data goes in pieces of this size.
  static constexpr std::size_t kWritePieceBytes = 1024;

  static HttpTransport& Instance();

  // Waits until no other request holds the handles. `owner` names the holder so that it can be
  // aborted when it goes away.
  std::unique_lock<std::mutex> Acquire(const void* owner);
  // Fails the request in flight if `owner` holds the handles; a blocked wait returns at once.
  void AbortFor(const void* owner);

  // `deadlineMs` bounds the request's whole exchange (RequestDeadlines), on top of the receive
  // time-out of each wait.
  int OpenPostRequest(const ServerAddress& address, int deadlineMs);
  // OpenPostRequest and the multipart Content-Type header.
  int OpenMultipartRequest(const ServerAddress& address, int deadlineMs);

  // The narrow variant the video-sharing calls use: the verb, port and TLS are the caller's,
  // the version is the client's default, and `headers` (when not empty) are added as given.
  // `trustFile` replaces the system's trusted authorities for a secure request; `bodyCap`
  // bounds the answer. Same results as OpenPostRequest, -4 when the headers are refused.
  int OpenSharingRequest(const QString& host, std::uint16_t port, const char* verb,
                         const QByteArray& path, bool secure, const QString& trustFile,
                         const QByteArray& headers, std::uint64_t bodyCap, int deadlineMs);

  bool StartRequest(std::uint64_t totalLength);
  // Returns the bytes written, 0 on failure.
  std::size_t Write(const char* data, std::size_t length);
  bool EndRequest();
  // Starts the request with the body's length, writes every part whole and ends it; writes the
  // debug line "buffer size: written / total". False when starting or ending failed.
  bool SendParts(const MultipartBody& body);

  // The Content-Length (0 when missing) after status 200 or 201, otherwise minus the status.
  std::int64_t QueryResult();
  // Reads the whole answer body, drops a UTF-8 byte-order mark and decodes UTF-8. False when the
  // answer broke off, ran past its time-out or grew past the size cap; `body` then holds nothing.
  bool ReadBody(QString* body);
  // Reads the whole answer as bytes in reads of at most `pieceBytes`, until a read returns
  // nothing. False when the answer broke off; `bytes` then holds nothing.
  bool ReadPieces(std::size_t pieceBytes, QByteArray* bytes);
  // Ends the request. While connections are reused, the connection stays open when the server
  // agreed to keep it; otherwise it is closed with the request.
  void CloseRequest();
  // From now on (on) or no longer (off) the requests opened by OpenPostRequest ask the server to
  // keep the connection, and go over the one the previous request left open. Turning it off
  // closes that connection. The caller turns it on for the requests of one upload only.
  void ReuseConnections(bool on);
  // True when the request just closed failed on a reused connection before any answer byte came:
  // the server closed it while it was idle, so the request may be sent once more on a fresh
  // connection without the server having seen it.
  bool LostReusedConnection() const { return lostReused_; }
  // True when the open request failed because its deadline passed: the server stopped
  // answering rather than refusing. Ask before CloseRequest.
  bool Overdue() const;

  // The receive time-out of every request opened from now on; tests shorten it.
  static void SetReceiveTimeout(int milliseconds);
  // Largest answer body accepted (64 MiB by default).
  static void SetBodyCap(std::uint64_t bytes);

 private:
  HttpTransport();
  ~HttpTransport();

  std::mutex gate_;
  mutable std::mutex clientMutex_;  // guards client_ and owner_ against AbortFor from other threads
  std::unique_ptr<inet::HttpClient> client_;
  const void* owner_ = nullptr;
  bool reuse_ = false;
  bool lostReused_ = false;
  static std::atomic<int> receiveTimeoutMs_;
  static std::atomic<std::uint64_t> bodyCap_;
};

}  // namespace kqmavo2
