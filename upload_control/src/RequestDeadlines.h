#pragma once

namespace kqmavo2 {

// How long one request may take as a whole, from connecting to the last byte of the answer. The
// per-read time-out alone lets a server that sends a byte now and then hold a request for hours.
// Per-user settings (QSettings "Quillbox5"/"clipFerry", section "clipFerry"), in seconds,
// fractions allowed:
//
//   blockDeadlineSeconds    one block of an upload, 1800 unless set
//   requestDeadlineSeconds  every other request (folders, version, post, an upload's cancel,
//                           the video-sharing login and categories), 120 unless set
//
// A value that is not a positive number, or is above a week, leaves the default.
//
// Read with them, as it also shapes each request's exchange:
//
//   reuseConnections        "0", "false", "no" or "off": every block of an upload goes on a
//                           connection of its own, for servers that mishandle kept connections
struct RequestDeadlines {
  static constexpr int kDefaultBlockMs = 30 * 60 * 1000;
  static constexpr int kDefaultRequestMs = 2 * 60 * 1000;

  int blockMs = kDefaultBlockMs;
  int requestMs = kDefaultRequestMs;
  bool reuseConnections = true;

  static RequestDeadlines Load();
};

}  // namespace kqmavo2
