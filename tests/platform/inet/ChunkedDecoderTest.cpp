#include "platform/inet/ChunkedDecoder.h"

#include <gtest/gtest.h>

namespace {

using inet::ChunkedDecoder;

TEST(ChunkedDecoderTest, DecodesTheSameWhateverTheArrivalPieces) {
  const std::string encoded =
      "4\r\nWiki\r\n5;name=value\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nX-Sum: 1\r\n\r\nNEXT";
  const std::string expected = "Wikipedia in\r\n\r\nchunks.";
  for (std::size_t piece : {encoded.size(), std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
    ChunkedDecoder decoder;
    std::string body;
    std::size_t used = 0;
    for (std::size_t at = 0; at < encoded.size() && !decoder.Done(); at += piece) {
      used += decoder.Feed(std::string_view(encoded).substr(at, piece), body);
    }
    EXPECT_TRUE(decoder.Done()) << piece;
    EXPECT_EQ(body, expected);
    EXPECT_EQ(encoded.substr(used), "NEXT");
  }
}

TEST(ChunkedDecoderTest, RefusesMalformedAndOversizedChunks) {
  for (const std::string& encoded : {
           std::string("\r\n"),
           std::string("g\r\n"),
           std::string("3\r\nabcd\r\n"),
           std::string("1\r2\r\n"),
           std::string("11111111111111111\r\n"),
           "1;" + std::string(5000, 'x') + "\r\n",
           "0\r\n" + std::string(70000, 'x'),
       }) {
    ChunkedDecoder decoder;
    std::string body;
    decoder.Feed(encoded, body);
    EXPECT_TRUE(decoder.Failed()) << encoded.substr(0, 20);
    EXPECT_FALSE(decoder.Error().empty());
  }
}

}  // namespace
