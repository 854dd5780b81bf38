#include "app/dialogs/BitrateEstimate.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

using namespace cf::estimate;

Source Square(int width, int height, int seconds = 60, int64_t fileSize = 0) {
  Source source;
  source.codedWidth = width;
  source.codedHeight = height;
  source.srcVideoWidth = width;
  source.srcVideoHeight = height;
  source.secDuration = seconds;
  source.fileSize = fileSize;
  return source;
}

TEST(BitrateEstimate, RoundEvenSendsOddValuesUp) {
  const std::pair<double, int> cases[] = {{3, 4}, {5, 6}, {4.9, 4},   {5.1, 6},
                                          {4, 4}, {0, 0}, {405, 406}, {360.2, 360}};
  for (const auto& [x, even] : cases) EXPECT_EQ(RoundEven(x), even) << x;
}

TEST(BitrateEstimate, VideoAndAudioRatesFollowTheFrameSize) {
  struct Case {
    int width, height, video, total;
  };
  const Case cases[] = {{320, 240, 336, 400},    {160, 120, 336, 400},    {640, 360, 586, 650},
                        {640, 480, 718, 782},    {720, 480, 784, 880},    {1024, 576, 1204, 1300},
                        {1280, 720, 1845, 1973}, {1920, 1080, 4072, 4200}};
  for (const Case& c : cases) {
    EXPECT_EQ(VideoKbps(c.width, c.height), c.video) << c.width << "x" << c.height;
    EXPECT_EQ(VideoKbps(c.width, c.height) + AudioKbps(c.width), c.total);
  }
  EXPECT_EQ(AudioKbps(640), 64);
  EXPECT_EQ(AudioKbps(641), 96);
  EXPECT_EQ(AudioKbps(1024), 96);
  EXPECT_EQ(AudioKbps(1025), 128);
  // Beyond 1920x1080 the last segment continues upward.
  EXPECT_GT(VideoKbps(3840, 2160), 4072);
}

TEST(BitrateEstimate, FullHdSourceAtEachResolution) {
  const Source source = Square(1920, 1080);
  const struct {
    int32_t resolution;
    FrameSize frame;
    int total;
  } cases[] = {{kStandardRes, {640, 360}, 650},
               {kHighRes, {1024, 576}, 1300},
               {kSourceRes, {1920, 1080}, 4200}};
  for (const auto& c : cases) {
    const Destination d = ComputeDestination(source, kLocalCvt, c.resolution, 0);
    EXPECT_EQ(d.frame, c.frame) << c.resolution;
    EXPECT_EQ(d.totalKbps, c.total) << c.resolution;
    // Server-side conversion is computed the same way.
    EXPECT_EQ(ComputeDestination(source, kServerCvt, c.resolution, 0).totalKbps, c.total);
  }
  // A custom total keeps the audio rate and gives the rest to the video.
  const Destination custom = ComputeDestination(source, kLocalCvt, kStandardRes, 780);
  EXPECT_EQ(custom.audioKbps, 64);
  EXPECT_EQ(custom.videoKbps, 716);
}

TEST(BitrateEstimate, DisplayAspectCorrectsTheHeight) {
  Source pal = Square(720, 576);
  pal.darNum = 16;
  pal.darDen = 9;
  pal.srcVideoHeight = 406;  // what the probe computes: 405 made even upward
  EXPECT_EQ(FitToWidth({720, 576}, 640, 16, 9), (FrameSize{640, 360}));
  EXPECT_EQ(ComputeDestination(pal, kLocalCvt, kStandardRes, 0).frame, (FrameSize{640, 360}));
  EXPECT_EQ(ComputeDestination(pal, kLocalCvt, kSourceRes, 0).frame, (FrameSize{720, 406}));
  // Narrower than the cap: only the aspect correction applies.
  EXPECT_EQ(FitToWidth({720, 576}, 1024, 16, 9), (FrameSize{720, 406}));
  // Exactly as wide as the cap still passes the scaling step, which makes the height even.
  EXPECT_EQ(FitToWidth({640, 361}, 640, 0, 0), (FrameSize{640, 362}));
  EXPECT_EQ(ComputeDestination(Square(640, 361), kLocalCvt, kStandardRes, 0).frame,
            (FrameSize{640, 362}));
  // Wider than the source cap: the source resolution is brought down to 1920.
  EXPECT_EQ(ComputeDestination(Square(3840, 2160), kLocalCvt, kSourceRes, 0).frame,
            (FrameSize{1920, 1080}));
}

TEST(BitrateEstimate, SizeTextInMegabytesAndGigabytes) {
  double gb = -1;
  EXPECT_EQ(SizeText(650, 3600, &gb), QStringLiteral("279 MB"));
  EXPECT_EQ(gb, 0);
  EXPECT_EQ(SizeText(4200, 4200, &gb), QStringLiteral("2.05 GB"));
  EXPECT_GT(gb, kNearLimitGB);
  EXPECT_EQ(SizeText(4200, 3988, &gb), QStringLiteral("1.95 GB"));
  EXPECT_GT(gb, kNearLimitGB);
  EXPECT_EQ(SizeText(400, 0, &gb), QStringLiteral("0 MB"));
}

TEST(BitrateEstimate, UploadLimitTest) {
  // 4200 kbps for 70 minutes is over 2 GiB; 66.5 minutes is under it.
  const Source seventyMinutes = Square(1920, 1080, 4200, 1000);
  EXPECT_TRUE(ExceedsUploadLimit(EstimateOutputBytes(seventyMinutes, kLocalCvt, kSourceRes)));
  EXPECT_FALSE(ExceedsUploadLimit(EstimateOutputBytes(seventyMinutes, kLocalCvt, kStandardRes)));
  EXPECT_FALSE(
      ExceedsUploadLimit(EstimateOutputBytes(Square(1920, 1080, 3988), kLocalCvt, kSourceRes)));
  // Without local conversion the file itself is uploaded, whatever the resolution.
  const Source big = Square(320, 240, 10, 2147483649LL);
  for (int32_t resolution : {kSourceRes, kHighRes, kStandardRes}) {
    EXPECT_TRUE(ExceedsUploadLimit(EstimateOutputBytes(big, kServerCvt, resolution)));
    EXPECT_TRUE(ExceedsUploadLimit(EstimateOutputBytes(big, kNoCvt, resolution)));
    EXPECT_FALSE(ExceedsUploadLimit(EstimateOutputBytes(big, kLocalCvt, resolution)));
  }
  EXPECT_FALSE(ExceedsUploadLimit(kUploadLimitBytes));
  EXPECT_TRUE(ExceedsUploadLimit(kUploadLimitBytes + 1));
}

TEST(BitrateEstimate, NoConversionUsesTheFilesOwnRate) {
  const Destination d =
      ComputeDestination(Square(1280, 720, 100, 10'000'000), kNoCvt, kStandardRes, 0);
  EXPECT_EQ(d.frame, (FrameSize{1280, 720}));
  EXPECT_EQ(d.totalKbps, 800);
  EXPECT_FALSE(d.hasBitrates);
  // A source shorter than a second gives no rate rather than a division by zero.
  EXPECT_EQ(FileKbps(10'000'000, 0), 0);
}

TEST(BitrateEstimate, ResolutionChoicesByServerAndWidth) {
  struct Case {
    bool oldSystem;
    int width;
    bool source, high, standard;
  };
  const Case cases[] = {
      {false, 320, true, false, false}, {false, 640, false, false, true},
      {false, 800, true, false, true},  {false, 1024, false, true, true},
      {false, 1920, true, true, true},  {true, 320, true, false, false},
      {true, 640, false, false, true},  {true, 800, true, false, true},
      {true, 1024, false, true, true},  {true, 1920, false, true, true},
  };
  for (const Case& c : cases) {
    const ResolutionChoices choices = AllowedResolutions(c.oldSystem, c.width);
    EXPECT_EQ(choices.source, c.source) << c.oldSystem << " " << c.width;
    EXPECT_EQ(choices.high, c.high) << c.oldSystem << " " << c.width;
    EXPECT_EQ(choices.standard, c.standard) << c.oldSystem << " " << c.width;
  }
  // A disallowed choice moves on cyclically: standard -> source -> high.
  EXPECT_EQ(FirstAllowedResolution(AllowedResolutions(false, 320), kStandardRes), kSourceRes);
  EXPECT_EQ(FirstAllowedResolution(AllowedResolutions(true, 1920), kSourceRes), kHighRes);
  EXPECT_EQ(FirstAllowedResolution({}, kHighRes), -1);
}

TEST(BitrateEstimate, CaptionSizesFitOneAfterAnother) {
  const ResolutionCaptionSizes full = CaptionSizes(Square(1920, 1080));
  EXPECT_FALSE(full.fullHd);
  EXPECT_EQ(full.source, (FrameSize{1920, 1080}));
  EXPECT_EQ(full.high, (FrameSize{1024, 576}));
  EXPECT_EQ(full.standard, (FrameSize{640, 360}));
  const ResolutionCaptionSizes wide = CaptionSizes(Square(2560, 1440));
  EXPECT_TRUE(wide.fullHd);
  EXPECT_EQ(wide.source, (FrameSize{1920, 1080}));
}

TEST(BitrateEstimate, PostfixNamesTheConvertedFile) {
  EXPECT_EQ(DestinationPostfix(false, 640), QString());
  EXPECT_EQ(DestinationPostfix(false, 1024), QStringLiteral("hd"));
  EXPECT_EQ(DestinationPostfix(false, 1920), QStringLiteral("src"));
  EXPECT_EQ(DestinationPostfix(true, 720), QStringLiteral("hd"));
  EXPECT_EQ(DestinationPostfix(true, 320), QString());
}

TEST(BitrateEstimate, CustomPresetsStepByTwentyPercent) {
  const auto presets = CustomBpsPresets(400);
  EXPECT_EQ(std::vector<int32_t>(presets.begin(), presets.end()),
            (std::vector<int32_t>{400, 480, 560, 640, 720, 800}));
  const auto odd = CustomBpsPresets(650);
  EXPECT_EQ(odd[1], 780);
  EXPECT_EQ(odd[5], 1300);
}

}  // namespace
