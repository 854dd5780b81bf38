#pragma once

#include <cstdint>
#include <string>

namespace kqserver {

// Decides whether a received file is a readable zip archive: an end record that points at a
// central directory inside the file, and for every entry a local header where the directory says,
// with its data inside the file. Reads only the directory and the headers, so archives of any size
// (zip64 included) are checked in a moment.
class ZipArchiveCheck {
 public:
  static bool Check(const std::string& path, std::string* problem, uint64_t* entries = nullptr);
};

}  // namespace kqserver
