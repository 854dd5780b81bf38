#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A loopback HTTP listener for tests that must see exactly the bytes a client puts on the wire.
// It reads each request (head and Content-Length body) as raw bytes and answers with whatever
// the test's responder returns, without any HTTP library in between. Each connection is served
// on its own thread, so overlapping requests are seen as overlapping.
class RawHttpListener {
 public:
  struct Request {
    QByteArray raw;   // everything received
    QByteArray head;  // up to and without the blank line
    QByteArray body;
    int connection = 0;    // which accepted connection carried it, from 1
    int onConnection = 0;  // how many requests that connection carried before it
    QByteArray RequestLine() const { return head.left(head.indexOf("\r\n")); }
    QByteArray Path() const;
    // Value of the first header of that name (case-insensitive), null when absent.
    QByteArray Header(const QByteArray& name) const;
    // Form fields of a multipart body as (name, value) in order.
    std::vector<std::pair<QByteArray, QByteArray>> FormFields() const;
  };

  struct Reply {
    QByteArray bytes;        // sent as is, then the connection is closed
    bool hold = false;       // never answer; wait until the client or the listener gives up
    bool endless = false;    // send `bytes`, then filler without end
    bool closeOnly = false;  // close without answering
    int dripMs = 0;          // send `bytes` one at a time, this far apart, until the client leaves
    bool keepOpen = false;   // send `bytes`, then read the next request on the same connection
  };

  // Called for each complete request with its index (0 for the first).
  using Responder = std::function<Reply(const Request& request, int index)>;

  explicit RawHttpListener(Responder responder);
  ~RawHttpListener();

  // Called on the connection's thread as soon as a request's head has arrived, before its body
  // is read. Set it before the first request.
  std::function<void(const QByteArray& head)> onHead;

  quint16 Port() const { return port_; }
  QString Url(const QString& path) const;
  std::vector<Request> Requests() const;
  // Requests whose connection closed after the head but before the whole body arrived, with
  // what did arrive in `body`.
  std::vector<Request> Abandoned() const;
  // Waits until `count` requests were abandoned; false if they do not come within a generous
  // guard, so a missing one fails the test instead of hanging it.
  bool WaitForAbandoned(std::size_t count) const;
  // Most requests ever in flight at once (connected, answer not yet begun).
  int MaxConcurrent() const { return maxConcurrent_; }
  int Accepted() const { return accepted_; }

  // A plain answer: status line, optional Content-Length, body.
  static QByteArray Answer(int status, const QByteArray& body, bool withLength = true);

 private:
  void AcceptLoop();
  void Serve(int socket, int connection);

  Responder responder_;
  int listenSocket_ = -1;
  quint16 port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> active_{0};
  std::atomic<int> maxConcurrent_{0};
  std::atomic<int> accepted_{0};
  std::atomic<int> nextIndex_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<Request> abandoned_;
  mutable std::condition_variable abandonedChanged_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// The form fields of a block request by name (the last of a name wins).
std::map<QByteArray, QByteArray> Fields(const RawHttpListener::Request& request);
// The file data of a block request; "<malformed>" when the body is not one block of an archive.
QByteArray FileData(const RawHttpListener::Request& request);
