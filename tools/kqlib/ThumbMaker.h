#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Pictures of a recording at given positions, for a project's slides: one JPEG per position,
// named by the position in milliseconds ("5000.jpg").
class ThumbMaker {
 public:
  static constexpr int kMaxSide = 4096;
  static constexpr size_t kMaxPositions = 100000;
  static constexpr int64_t kMaxListBytes = 4 * 1024 * 1024;

  // The positions of a list file, one decimal number per line, in order. Lines that are not a
  // position (blank, negative, not a number) are skipped.
  static bool ReadPositionList(const std::string& listFile, std::vector<int32_t>* positions,
                               std::string* error);

  // A single folder name, so that the pictures stay beside the store.
  static bool IsPlainFolderName(const std::string& name);

  // Writes the pictures into `folder` (created when missing) at width x height. A position past
  // the end of the recording gets its last picture. `progress` hears each position written;
  // `cancel` is checked between pictures. False when the store cannot be read or a picture could
  // not be written; the others are still written.
  static bool Make(const std::string& store, const std::vector<int32_t>& positions,
                   const std::string& folder, int width, int height,
                   const std::function<void(int32_t)>& progress, const std::atomic<bool>& cancel,
                   std::string* error);
};
