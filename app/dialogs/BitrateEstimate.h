#pragma once

#include <QString>

#include <array>
#include <cstdint>

// The destination frame size and bitrates of a conversion, the expected size of the upload and
// the limits that refuse it. Every number here is reproduced exactly by the dialogs and by
// clipferry-cli, so a job set up either way is the same job.
namespace cf::estimate {

// The server accepts uploads up to and including this size.
inline constexpr double kUploadLimitBytes = 2147483648.0;
// A size shown above this many GB is announced once per dialog.
inline constexpr double kNearLimitGB = 1.9;
inline constexpr int kSourceWidthCap = 1920;
inline constexpr int kHighWidthCap = 1024;
inline constexpr int kStandardWidthCap = 640;
inline constexpr int kPresetCount = 6;

enum Conversion : int32_t { kLocalCvt = 0, kServerCvt = 1, kNoCvt = 2 };
enum Resolution : int32_t { kSourceRes = 0, kHighRes = 1, kStandardRes = 2 };

struct FrameSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const FrameSize&) const = default;
};

// What the probe learned of the source, and its size on disk.
struct Source {
  int32_t codedWidth = 0;
  int32_t codedHeight = 0;
  int32_t darNum = 0;  // display aspect; 0:0 when the source has none
  int32_t darDen = 0;
  int32_t srcVideoWidth = 0;
  int32_t srcVideoHeight = 0;
  int32_t secDuration = 0;
  int64_t fileSize = 0;
};

struct Destination {
  FrameSize frame;
  int32_t audioKbps = 0;
  int32_t videoKbps = 0;
  int32_t totalKbps = 0;
  bool hasBitrates = false;  // false without conversion: the bitrates keep their old values
};

// The even integer nearest to x; an odd value goes up.
int32_t RoundEven(double x);
// Corrects the height for the display aspect, then scales down to `maxWidth` when the frame is
// at least that wide.
FrameSize FitToWidth(FrameSize size, int32_t maxWidth, int32_t darNum, int32_t darDen);
int32_t AudioKbps(int32_t width);
int32_t VideoKbps(int32_t width, int32_t height);

// The frame a conversion at this resolution gives.
FrameSize ConvertedFrame(const Source& source, int32_t resolution);
Destination ComputeDestination(const Source& source, int32_t conversion, int32_t resolution,
                               int32_t customBps);
// Bytes the upload would take: the file itself unless it is converted here.
double EstimateOutputBytes(const Source& source, int32_t conversion, int32_t resolution);
inline bool ExceedsUploadLimit(double bytes) { return bytes > kUploadLimitBytes; }

// Expected size of `seconds` at `totalKbps`: "279 MB" or "1.95 GB". `gigabytes` gets the GB
// value when the size is shown in GB, 0 otherwise.
QString SizeText(int64_t totalKbps, int32_t seconds, double* gigabytes = nullptr);
// The GB value as the text shows it.
QString GigabyteText(double gigabytes);

// Which resolutions a source of coded width `width` may be converted to.
struct ResolutionChoices {
  bool source = false;
  bool high = false;
  bool standard = false;
  bool allows(int32_t resolution) const;
};
ResolutionChoices AllowedResolutions(bool oldSystem, int32_t width);
// The allowed choice nearest after `resolution` in the order source, high, standard, source ...;
// `resolution` itself when it is allowed, -1 when none is.
int32_t FirstAllowedResolution(const ResolutionChoices& choices, int32_t resolution);

// Frame sizes shown in the resolution captions, each one fitted from the one before.
struct ResolutionCaptionSizes {
  bool fullHd = false;  // the source is wider than the source cap
  FrameSize source;
  FrameSize high;
  FrameSize standard;
};
ResolutionCaptionSizes CaptionSizes(const Source& source);

// "dstPostfix" of a job: chooses the name of the converted file.
QString DestinationPostfix(bool oldSystem, int32_t videoWidth);

// Total bitrate without conversion: the file's own, in kbps. 0 for a source of no duration.
int32_t FileKbps(int64_t fileSize, int32_t secDuration);

// The custom bandwidth presets: 100 %, 120 % ... 200 % of the default total.
std::array<int32_t, kPresetCount> CustomBpsPresets(int32_t defaultKbps);
// Bytes `seconds` at `kbps` take.
double BytesFor(double kbps, int32_t seconds);

}  // namespace cf::estimate
