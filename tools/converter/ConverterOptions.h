#pragma once

#include <string>
#include <vector>

// Turns a command line written for the converter build the program was made for into one the
// installed ffmpeg accepts: renamed options, old flag sets spelled as today's encoder options,
// output options that were written before the input moved behind it, and image outputs limited to
// one picture.
class ConverterOptions {
 public:
  // False with `error` set when the arguments cannot be understood (an option without its value).
  static bool Translate(const std::vector<std::string>& arguments, std::vector<std::string>* modern,
                        std::string* error);
};
