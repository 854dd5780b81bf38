#pragma once

#include <string>
#include <vector>

// The keyframe times of a video's video stream, in seconds from the start, in order.
class KeyframeLister {
 public:
  // False with `error` set when the file cannot be read or has no video stream.
  static bool List(const std::string& path, std::vector<double>* times, std::string* error);

  // One time as written to the list: seconds with up to three decimals, no trailing zeros.
  static std::string Format(double seconds);
};
