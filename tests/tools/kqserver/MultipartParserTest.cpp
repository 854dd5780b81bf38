#include "tools/kqserver/MultipartParser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/tools/kqserver/WireRequest.h"

namespace kqserver {
namespace {

const std::string kBoundary = "Qu1llbox5_Xu02=$";

// Records what the parser reports, in order.
class Recorder : public MultipartParser::Receiver {
 public:
  bool OnField(const std::string& name, const std::string& value) override {
    events.push_back("field " + name + "=" + value);
    return true;
  }
  bool OnFileBegin(const std::string& name, const std::string& fileName) override {
    events.push_back("file " + name + " " + fileName);
    return refuseFile.empty();
  }
  bool OnFileData(const char* data, size_t size) override {
    file.append(data, size);
    return true;
  }
  bool OnFileEnd() override {
    events.push_back("end");
    return true;
  }

  std::vector<std::string> events;
  std::string file;
  std::string refuseFile;
};

std::string Bytes(const QByteArray& bytes) { return std::string(bytes.constData(), bytes.size()); }

bool ParseInPieces(const std::string& body, size_t piece, Recorder* recorder,
                   std::string* error = nullptr) {
  MultipartParser parser(kBoundary, recorder);
  bool ok = true;
  for (size_t at = 0; ok && at < body.size(); at += piece) {
    ok = parser.Feed(body.data() + at, std::min(piece, body.size() - at));
  }
  ok = ok && parser.Finish();
  if (error) *error = parser.Error();
  return ok;
}

TEST(MultipartParserTest, UploaderBlockBodyGivesSameFieldsAndBytesWhateverThePieceSize) {
  // Data that imitates the start of a delimiter must pass through as data.
  std::string data = "PK\x03\x04\r\n--Qu1llbox5_Xu02\r\n--Qu1llbox5_Xu02=";
  for (int i = 0; i < 3000; ++i) data.push_back(static_cast<char>(i * 7));
  data += "\r\n-";
  const std::string body =
      Bytes(WireRequest::BlockBody("demo", "demo", 2, -1, "17000000001234512345", 0, true,
                                   QByteArray(data.data(), static_cast<qsizetype>(data.size()))));
  const std::vector<std::string> expected = {"field account=demo",
                                             "field password=demo",
                                             "field folderID=2",
                                             "field contentID=-1",
                                             "field sessID=17000000001234512345",
                                             "field seqno=0",
                                             "field sessFinish=yes",
                                             "field blockSize=" + std::to_string(data.size()),
                                             "field tool=v.2.100603",
                                             "file mavofile mavofile.zip",
                                             "end"};
  // Short pieces are gathered; from twice the delimiter's length on, file data is taken from the
  // piece itself, with delimiters and their imitations falling across piece ends.
  for (size_t piece :
       {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{18}, size_t{19}, size_t{40}, size_t{41},
        size_t{63}, size_t{100}, size_t{1000}, size_t{4096}, body.size()}) {
    SCOPED_TRACE("piece " + std::to_string(piece));
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(ParseInPieces(body, piece, &recorder, &error)) << error;
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(recorder.file, data);
  }
}

TEST(MultipartParserTest, FieldOnlyBodyEndsRightAfterLastLineBreak) {
  Recorder recorder;
  const std::string body =
      Bytes(WireRequest::FormBody({{"sessID", "42"}, {"sessFinish", "cancel"}}));
  ASSERT_EQ(body.substr(body.size() - 22), "\r\n--Qu1llbox5_Xu02=$--");
  ASSERT_TRUE(ParseInPieces(body, body.size(), &recorder));
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"field sessID=42", "field sessFinish=cancel"}));
}

TEST(MultipartParserTest, EmptyFileAndEmptyValuesAreKept) {
  Recorder recorder;
  const std::string body = Bytes(WireRequest::BlockBody("a", "", 1, 0, "9", 0, true, QByteArray()));
  ASSERT_TRUE(ParseInPieces(body, 5, &recorder));
  EXPECT_EQ(recorder.events[1], "field password=");
  EXPECT_EQ(recorder.events.back(), "end");
  EXPECT_TRUE(recorder.file.empty());
}

TEST(MultipartParserTest, MalformedBodiesAreRefused) {
  const std::string field = Bytes(WireRequest::FormFieldPart("a", "1"));
  const std::string closing = Bytes(WireRequest::ClosingBoundary(false));
  struct Case {
    const char* what;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"no closing boundary", field},
      {"cut inside the headers", "--" + kBoundary + "\r\nContent-Dispo"},
      {"part without a name",
       "--" + kBoundary + "\r\nContent-Disposition: form-data\r\n\r\nx\r\n" + closing},
      {"part without disposition", "--" + kBoundary + "\r\nX-Other: 1\r\n\r\nx\r\n" + closing},
      {"header line without colon", "--" + kBoundary + "\r\nbroken header\r\n\r\nx\r\n" + closing},
      {"garbage after a boundary", "--" + kBoundary + "XYZ\r\n" + closing},
      {"no boundary at all", std::string(20000, 'x')},
      {"field value too long",
       Bytes(WireRequest::FormFieldPart("a", QByteArray(9000, 'v'))) + closing},
      {"headers too long", "--" + kBoundary + "\r\nContent-Disposition: form-data;name=\"a\"\r\n" +
                               "X-Pad: " + std::string(9000, 'p') + "\r\n\r\nx\r\n" + closing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (size_t piece : {size_t{1}, size_t{64}, c.body.size()}) {
      Recorder recorder;
      std::string error;
      EXPECT_FALSE(ParseInPieces(c.body, piece, &recorder, &error));
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(MultipartParserTest, TooManyPartsAreRefused) {
  QByteArray body;
  for (int i = 0; i < 65; ++i) body += WireRequest::FormFieldPart("f", "1");
  body += WireRequest::ClosingBoundary(false);
  Recorder recorder;
  EXPECT_FALSE(ParseInPieces(Bytes(body), 4096, &recorder));
}

TEST(MultipartParserTest, ReceiverRefusalStopsParsing) {
  Recorder recorder;
  recorder.refuseFile = "yes";
  const std::string body = Bytes(WireRequest::BlockBody("a", "b", 1, 0, "9", 0, true, "data"));
  MultipartParser parser(kBoundary, &recorder);
  EXPECT_FALSE(parser.Feed(body.data(), body.size()));
  EXPECT_FALSE(parser.Feed("more", 4));
  EXPECT_FALSE(parser.Finish());
}

TEST(MultipartParserTest, BoundaryIsReadFromContentType) {
  const std::vector<std::pair<std::string, std::string>> accepted = {
      {"multipart/form-data; boundary=Qu1llbox5_Xu02=$", "Qu1llbox5_Xu02=$"},
      {"Multipart/Form-Data;boundary=\"a;b\"", "a;b"},
      {"multipart/form-data; charset=x; boundary=abc", "abc"},
  };
  for (const auto& [header, boundary] : accepted) {
    std::string found;
    EXPECT_TRUE(MultipartParser::BoundaryFromContentType(header, &found)) << header;
    EXPECT_EQ(found, boundary);
  }
  for (const char* header : {"text/plain", "multipart/form-data",
                             "multipart/form-data; boundary=", "multipart/mixed; boundary=abc"}) {
    std::string found;
    EXPECT_FALSE(MultipartParser::BoundaryFromContentType(header, &found)) << header;
  }
}

}  // namespace
}  // namespace kqserver
