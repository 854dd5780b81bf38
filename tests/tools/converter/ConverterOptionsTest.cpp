#include "tools/converter/ConverterOptions.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

Args Split(const std::string& line) {
  Args args;
  size_t at = 0;
  while (at < line.size()) {
    const size_t end = line.find(' ', at);
    args.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? line.size() : end + 1;
  }
  return args;
}

TEST(ConverterOptionsTest, TranslatesTheProgramsCommandLines) {
  const struct {
    const char* name;
    const char* old;
    const char* modern;
  } cases[] = {
      {"probe: output options before the input move behind it",
       "-y -vf showinfo -i in.mp4 -f image2 -ss 0.1 pic.bmp",
       "-hide_banner -nostdin -y -i in.mp4 -vf showinfo -f image2 -ss 0.1 -frames:v 1 -update 1 "
       "-q:v 3 pic.bmp"},
      {"picture: one frame, written under its own name",
       "-i v.mp4 -ss 1 -vframes 1 -s 160x120 -f image2 thumb.jpg",
       "-hide_banner -nostdin -i v.mp4 -ss 1 -frames:v 1 -s 160x120 -f image2 -update 1 -q:v 3 "
       "thumb.jpg"},
      {"first pass",
       "-y -deinterlace -i src.avi -map_chapters -1:0 -acodec libfaac -ac 2 -ab 64k -ar 44100 "
       "-vcodec libx264 -threads 1 -vsync 1 -s 720x600 -aspect 720:540 -b 500k -r 30 -g 90 -level "
       "30 "
       "-coder 1 -flags +loop -cmp +chroma -partitions +parti4x4+parti8x8+partp8x8+partb8x8 "
       "-me_method umh -subq 7 -me_range 16 -i_qfactor 0.71 -b_strategy 2 -qcomp 0.6 -qmin 10 "
       "-qmax 51 -qdiff 4 -bf 1 -refs 1 -directpred 1 -trellis 2 "
       "-flags2 +bpyramid+mixed_refs+wpred+fastpskip+mbtree -wpredp 2 -pass 1 -passlogfile log "
       "out.mp4",
       "-hide_banner -nostdin -y -i src.avi -vf yadif -map_chapters -1 -c:a aac -ac 2 -b:a 64k "
       "-ar 44100 -c:v libx264 -threads 1 -fps_mode cfr -s 720x600 -aspect 720:540 -b:v 500k -r 30 "
       "-g 90 -level 30 -coder 1 -flags +loop -cmp +chroma -partitions i4x4,i8x8,p8x8,b8x8 "
       "-motion-est umh -subq 7 -me_range 16 -i_qfactor 0.71 -b_strategy 2 -qcomp 0.6 -qmin 10 "
       "-qmax 51 -qdiff 4 -bf 1 -refs 1 -direct-pred spatial -trellis 2 -b-pyramid normal "
       "-mixed-refs 1 -weightb 1 -fast-pskip 1 -mbtree 1 -weightp smart -pass 1 -passlogfile log "
       "-pix_fmt yuv420p out.mp4"},
      {"deinterlacing comes before other filters", "-deinterlace -vf showinfo -i a.mpg o.mp4",
       "-hide_banner -nostdin -i a.mpg -vf yadif,showinfo o.mp4"},
      {"flags turned off and flags of no encoder option",
       "-i a -flags2 +bpyramid-mbtree+fast o.mp4",
       "-hide_banner -nostdin -i a -b-pyramid normal -mbtree 0 -flags2 +fast o.mp4"},
      {"input options stay with their input", "-f lavfi -re -i testsrc -y -vcodec copy o.mkv",
       "-hide_banner -nostdin -y -f lavfi -re -i testsrc -c:v copy o.mkv"},
      {"a given pixel format is kept", "-i a -vcodec libx264 -pix_fmt yuv444p o.mp4",
       "-hide_banner -nostdin -i a -c:v libx264 -pix_fmt yuv444p o.mp4"},
      {"other codecs and old methods", "-i a -acodec copy -me_method epzs -wpredp 0 o.mp4",
       "-hide_banner -nostdin -i a -c:a copy -motion-est dia -weightp none o.mp4"},
  };
  for (const auto& c : cases) {
    Args modern;
    std::string error;
    ASSERT_TRUE(ConverterOptions::Translate(Split(c.old), &modern, &error))
        << c.name << ": " << error;
    EXPECT_EQ(modern, Split(c.modern)) << c.name;
  }
}

TEST(ConverterOptionsTest, RefusesAnOptionWithoutItsValue) {
  for (const char* line : {"-i", "-y -i a -b", ""}) {
    Args modern;
    std::string error;
    const Args args = std::string(line).empty() ? Args{} : Split(line);
    EXPECT_FALSE(ConverterOptions::Translate(args, &modern, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

}  // namespace
