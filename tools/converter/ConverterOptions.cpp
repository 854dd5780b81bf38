#include "tools/converter/ConverterOptions.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

using Args = std::vector<std::string>;

// Options that never take a value.
const std::set<std::string> kFlags = {"-y",       "-n",        "-deinterlace", "-an",      "-vn",
                                      "-sn",      "-dn",       "-hide_banner", "-nostdin", "-stats",
                                      "-nostats", "-shortest", "-re"};

// Options that only ever described the output; the old converter took them anywhere on the line.
const std::set<std::string> kOutputOnly = {
    "-vf",          "-deinterlace", "-vframes",   "-aspect",     "-map_chapters", "-pass",
    "-passlogfile", "-ab",          "-b",         "-acodec",     "-vcodec",       "-g",
    "-level",       "-coder",       "-flags",     "-cmp",        "-partitions",   "-me_method",
    "-subq",        "-me_range",    "-i_qfactor", "-b_strategy", "-qcomp",        "-qmin",
    "-qmax",        "-qdiff",       "-bf",        "-refs",       "-directpred",   "-trellis",
    "-flags2",      "-wpredp",      "-vsync"};

struct Option {
  std::string name;
  std::string value;
  bool hasValue = false;
};

struct Output {
  std::vector<Option> options;
  std::string file;
};

// Splits "+a+b-c" into {("a", true), ("b", true), ("c", false)}; a bare first name counts as set.
std::vector<std::pair<std::string, bool>> FlagSet(const std::string& value) {
  std::vector<std::pair<std::string, bool>> flags;
  size_t at = 0;
  while (at < value.size()) {
    bool on = true;
    if (value[at] == '+' || value[at] == '-') {
      on = value[at] == '+';
      ++at;
    }
    const size_t end = value.find_first_of("+-", at);
    const std::string name =
        value.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!name.empty()) flags.emplace_back(name, on);
    at = end == std::string::npos ? value.size() : end;
  }
  return flags;
}

std::string Lookup(const std::map<std::string, std::string>& table, const std::string& key) {
  const auto found = table.find(key);
  return found == table.end() ? key : found->second;
}

void Add(Args* out, const std::string& name, const std::string& value) {
  out->push_back(name);
  out->push_back(value);
}

// Today's spelling of one output option; filters are gathered separately.
void TranslateOutputOption(const Option& option, Args* out, std::vector<std::string>* filters,
                           bool* framesGiven) {
  const std::string& name = option.name;
  const std::string& value = option.value;
  if (name == "-deinterlace") {
    filters->insert(filters->begin(), "yadif");
  } else if (name == "-vf") {
    filters->push_back(value);
  } else if (name == "-acodec") {
    Add(out, "-c:a", value == "libfaac" ? "aac" : value);
  } else if (name == "-vcodec") {
    Add(out, "-c:v", value);
  } else if (name == "-ab") {
    Add(out, "-b:a", value);
  } else if (name == "-b") {
    Add(out, "-b:v", value);
  } else if (name == "-vframes") {
    Add(out, "-frames:v", value);
    *framesGiven = true;
  } else if (name == "-map_chapters") {
    // Old form "output:input"; "-1" alone now means no chapters.
    Add(out, "-map_chapters", value.substr(0, value.find(':')));
  } else if (name == "-me_method") {
    static const std::map<std::string, std::string> methods = {
        {"epzs", "dia"}, {"zero", "dia"}, {"full", "esa"}, {"x1", "dia"}};
    Add(out, "-motion-est", Lookup(methods, value));
  } else if (name == "-directpred") {
    static const std::map<std::string, std::string> modes = {
        {"0", "none"}, {"1", "spatial"}, {"2", "temporal"}, {"3", "auto"}};
    Add(out, "-direct-pred", Lookup(modes, value));
  } else if (name == "-wpredp") {
    static const std::map<std::string, std::string> modes = {
        {"0", "none"}, {"1", "simple"}, {"2", "smart"}};
    Add(out, "-weightp", Lookup(modes, value));
  } else if (name == "-vsync") {
    static const std::map<std::string, std::string> modes = {
        {"-1", "auto"}, {"0", "passthrough"}, {"1", "cfr"}, {"2", "vfr"}};
    Add(out, "-fps_mode", Lookup(modes, value));
  } else if (name == "-partitions") {
    std::string list;
    for (const auto& [flag, on] : FlagSet(value)) {
      if (!on) continue;
      const std::string part = flag.rfind("part", 0) == 0 ? flag.substr(4) : flag;
      list += (list.empty() ? "" : ",") + part;
    }
    Add(out, "-partitions", list.empty() ? "none" : list);
  } else if (name == "-flags2") {
    static const std::map<std::string, std::pair<std::string, std::pair<std::string, std::string>>>
        encoderFlags = {{"bpyramid", {"-b-pyramid", {"normal", "none"}}},
                        {"mixed_refs", {"-mixed-refs", {"1", "0"}}},
                        {"wpred", {"-weightb", {"1", "0"}}},
                        {"fastpskip", {"-fast-pskip", {"1", "0"}}},
                        {"mbtree", {"-mbtree", {"1", "0"}}},
                        {"dct8x8", {"-8x8dct", {"1", "0"}}},
                        {"aud", {"-aud", {"1", "0"}}}};
    std::string rest;
    for (const auto& [flag, on] : FlagSet(value)) {
      const auto found = encoderFlags.find(flag);
      if (found == encoderFlags.end()) {
        rest += (on ? "+" : "-") + flag;
      } else {
        Add(out, found->second.first,
            on ? found->second.second.first : found->second.second.second);
      }
    }
    if (!rest.empty()) Add(out, "-flags2", rest);
  } else if (option.hasValue) {
    Add(out, name, value);
  } else {
    out->push_back(name);
  }
}

void TranslateOutput(const Output& output, Args* out) {
  std::vector<std::string> filters;
  bool framesGiven = false;
  bool pixelFormatGiven = false;
  bool x264 = false;
  bool image2 = false;
  bool qualityGiven = false;
  Args translated;
  for (const Option& option : output.options) {
    if (option.name == "-pix_fmt") pixelFormatGiven = true;
    if (option.name == "-vcodec" && option.value == "libx264") x264 = true;
    if (option.name == "-f" && option.value == "image2") image2 = true;
    if (option.name == "-qscale" || option.name == "-q:v" || option.name == "-qscale:v") {
      qualityGiven = true;
    }
    TranslateOutputOption(option, &translated, &filters, &framesGiven);
  }
  if (!filters.empty()) {
    std::string chain;
    for (const std::string& filter : filters) chain += (chain.empty() ? "" : ",") + filter;
    Add(out, "-vf", chain);
  }
  out->insert(out->end(), translated.begin(), translated.end());
  // Players of the uploaded videos decode 4:2:0 only; the old encoder never made anything else.
  if (x264 && !pixelFormatGiven) Add(out, "-pix_fmt", "yuv420p");
  if (image2) {
    // One picture per run, written under the name given (no numbered series).
    if (!framesGiven) Add(out, "-frames:v", "1");
    Add(out, "-update", "1");
    if (!qualityGiven) Add(out, "-q:v", "3");
  }
  out->push_back(output.file);
}

}  // namespace

bool ConverterOptions::Translate(const Args& arguments, Args* modern, std::string* error) {
  Args global = {"-hide_banner", "-nostdin"};
  Args inputs;
  std::vector<Option> moved;    // output options written before the first input
  std::vector<Option> pending;  // options waiting for the file they belong to
  std::vector<Output> outputs;
  bool seenInput = false;

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg.size() < 2 || arg[0] != '-') {
      Output output;
      output.options = moved;
      moved.clear();
      output.options.insert(output.options.end(), pending.begin(), pending.end());
      pending.clear();
      output.file = arg;
      outputs.push_back(output);
      continue;
    }
    Option option;
    option.name = arg;
    if (kFlags.count(arg) == 0) {
      if (i + 1 >= arguments.size()) {
        *error = "Missing argument for option '" + arg + "'.";
        return false;
      }
      option.value = arguments[++i];
      option.hasValue = true;
    }
    if (arg == "-y" || arg == "-n" || arg == "-hide_banner" || arg == "-nostdin" ||
        arg == "-stats" || arg == "-nostats") {
      if (std::find(global.begin(), global.end(), arg) == global.end()) global.push_back(arg);
      continue;
    }
    if (arg == "-i") {
      for (const Option& before : pending) {
        if (kOutputOnly.count(before.name) != 0) {
          moved.push_back(before);
        } else {
          inputs.push_back(before.name);
          if (before.hasValue) inputs.push_back(before.value);
        }
      }
      pending.clear();
      inputs.push_back("-i");
      inputs.push_back(option.value);
      seenInput = true;
      continue;
    }
    pending.push_back(option);
  }
  if (!seenInput && outputs.empty()) {
    *error = "No input and no output file given.";
    return false;
  }
  if (!pending.empty() || (!moved.empty() && outputs.empty())) {
    // Trailing options with no file after them: the installed ffmpeg reports that itself.
    Output dangling;
    dangling.options = moved;
    dangling.options.insert(dangling.options.end(), pending.begin(), pending.end());
    modern->assign(global.begin(), global.end());
    modern->insert(modern->end(), inputs.begin(), inputs.end());
    for (const Output& output : outputs) TranslateOutput(output, modern);
    for (const Option& option : dangling.options) {
      modern->push_back(option.name);
      if (option.hasValue) modern->push_back(option.value);
    }
    return true;
  }
  modern->assign(global.begin(), global.end());
  modern->insert(modern->end(), inputs.begin(), inputs.end());
  for (const Output& output : outputs) TranslateOutput(output, modern);
  return true;
}
