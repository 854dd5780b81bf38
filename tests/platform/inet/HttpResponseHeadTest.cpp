#include "platform/inet/HttpResponseHead.h"

#include <gtest/gtest.h>

namespace {

using inet::HttpResponseHead;
using Result = HttpResponseHead::ParseResult;

TEST(HttpResponseHeadTest, ParsesHeadsServersSend) {
  struct Case {
    std::string bytes;
    int status;
    std::optional<std::uint64_t> length;
    bool chunked;
    std::size_t consumed;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\nbody", 200, 12, false, 39},
      {"HTTP/1.1 302\nLocation: /x\n\n", 302, std::nullopt, false, 27},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\ncontent-length: 5\r\n\r\n", 200, 5, false, 57},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n", 200,
       std::nullopt, true, 72},
      {"HTTP/1.0 500 Internal Server Error\r\nX-Long: a\r\n  b\r\n\r\n", 500, std::nullopt, false,
       54},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    HttpResponseHead head;
    std::size_t consumed = 0;
    std::string error;
    ASSERT_EQ(HttpResponseHead::Parse(c.bytes, head, consumed, error), Result::kComplete) << error;
    EXPECT_EQ(head.status, c.status);
    EXPECT_EQ(head.contentLength, c.length);
    EXPECT_EQ(head.chunked, c.chunked);
    EXPECT_EQ(consumed, c.consumed);
    // Every shorter prefix is incomplete, never misread as a whole head.
    for (std::size_t n = 0; n < consumed; ++n) {
      HttpResponseHead partial;
      ASSERT_EQ(HttpResponseHead::Parse(c.bytes.substr(0, n), partial, consumed, error),
                Result::kIncomplete)
          << n;
    }
  }
  HttpResponseHead head;
  std::size_t consumed = 0;
  std::string error;
  HttpResponseHead::Parse("HTTP/1.0 200 OK\r\nX-Long: a\r\n  b\r\n\r\n", head, consumed, error);
  EXPECT_EQ(head.Field("x-long"), "a b");
  EXPECT_EQ(head.Field("missing"), std::nullopt);
}

TEST(HttpResponseHeadTest, RefusesMalformedOrUnboundedHeads) {
  std::string manyFields = "HTTP/1.0 200 OK\r\n";
  for (int i = 0; i < 300; ++i) manyFields += "X: y\r\n";
  const std::string endless = "HTTP/1.0 200 OK\r\nX: " + std::string(70000, 'a');
  for (const std::string& bytes : {
           std::string("SSH-2.0-OpenSSH_9.2\r\n\r\n"),
           std::string("HTTP/1.0 2000 OK\r\n\r\n"),
           std::string("HTTP/1.0 20x OK\r\n\r\n"),
           std::string("HTTP/1.0 099 Low\r\n\r\n"),
           std::string("HTTP/x.0 200 OK\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nContent-Length: 1x\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\n continued\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nNo colon here\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nBad Name: x\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nX: a\rb\r\n\r\n"),
           manyFields + "\r\n",
           endless,
       }) {
    HttpResponseHead head;
    std::size_t consumed = 0;
    std::string error;
    EXPECT_EQ(HttpResponseHead::Parse(bytes, head, consumed, error), Result::kInvalid)
        << bytes.substr(0, 60);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
