// Feeds arbitrary request bodies to the server's multipart reader, whole and in small pieces:
// both readings must report the same fields, file bytes and outcome, within the reader's limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/kqserver/MultipartParser.h"

namespace {

class Recorder : public kqserver::MultipartParser::Receiver {
 public:
  bool OnField(const std::string& name, const std::string& value) override {
    if (value.size() > kqserver::MultipartParser::Limits().maxFieldBytes) std::abort();
    events += "F" + name + "=" + value + ";";
    return true;
  }
  bool OnFileBegin(const std::string& name, const std::string& fileName) override {
    if (inFile) std::abort();  // a file part never starts inside another
    inFile = true;
    events += "B" + name + "/" + fileName + ";";
    return true;
  }
  bool OnFileData(const char* data, size_t size) override {
    if (!inFile || size == 0) std::abort();
    events.append(data, size);
    return true;
  }
  bool OnFileEnd() override {
    if (!inFile) std::abort();
    inFile = false;
    events += "E;";
    return true;
  }

  std::string events;
  bool inFile = false;
};

struct Outcome {
  std::string events;
  bool ok = false;
};

Outcome Parse(const char* body, size_t size, size_t piece) {
  Recorder recorder;
  kqserver::MultipartParser parser("Qu1llbox5_Xu02=$", &recorder);
  bool ok = true;
  for (size_t at = 0; ok && at < size; at += piece) {
    ok = parser.Feed(body + at, piece < size - at ? piece : size - at);
  }
  ok = parser.Finish() && ok;
  if (!ok && parser.Error().empty()) std::abort();
  return {recorder.events, ok};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 97;
  const char* body = reinterpret_cast<const char*>(data + 1);
  const Outcome whole = Parse(body, size - 1, size);
  const Outcome pieces = Parse(body, size - 1, piece);
  if (whole.ok != pieces.ok) std::abort();
  if (whole.ok && whole.events != pieces.events) std::abort();
  return 0;
}
