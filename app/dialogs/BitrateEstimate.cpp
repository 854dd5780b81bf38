#include "app/dialogs/BitrateEstimate.h"

#include "app/services/modGlobal.h"

#include <cmath>

namespace cf::estimate {

namespace {

constexpr double kBytesPerMB = 1048576.0;

// Quotients are rounded to single precision before they are made even, so that a height the
// probe computed and one computed here agree.
int32_t EvenOfSingle(double value) {
  return RoundEven(static_cast<double>(static_cast<float>(value)));
}

double HoldFourDecimals(double value) { return std::round(value * 10000.0) / 10000.0; }

struct Segment {
  int64_t upToPixels;
  int64_t fromPixels;
  double fromKbps;
  int64_t toPixels;
  double toKbps;
};

// 320x240, 640x360, 1024x576 and 1920x1080 are the breakpoints; the last segment continues.
constexpr Segment kVideoSegments[] = {
    {230400, 76800, 336, 230400, 586},
    {589824, 230400, 586, 589824, 1204},
    {INT64_MAX, 589824, 1204, 2073600, 4072},
};

}  // namespace

int32_t RoundEven(double x) { return static_cast<int32_t>(NearestEven(x)); }

FrameSize FitToWidth(FrameSize size, int32_t maxWidth, int32_t darNum, int32_t darDen) {
  if (darNum > 0) {
    size.height = EvenOfSingle(static_cast<double>(darDen) / darNum * size.width);
  }
  if (size.width < maxWidth || size.width <= 0) return size;
  size.height = EvenOfSingle(static_cast<double>(size.height) / size.width * maxWidth);
  size.width = maxWidth;
  return size;
}

int32_t AudioKbps(int32_t width) {
  if (width <= 640) return 64;
  if (width <= 1024) return 96;
  return 128;
}

int32_t VideoKbps(int32_t width, int32_t height) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels <= 76800) return 336;
  for (const Segment& segment : kVideoSegments) {
    if (pixels > segment.upToPixels) continue;
    const double slope = (segment.toKbps - segment.fromKbps) /
                         static_cast<double>(segment.toPixels - segment.fromPixels);
    return static_cast<int32_t>(
        RoundHalfEven(segment.fromKbps + static_cast<double>(pixels - segment.fromPixels) * slope));
  }
  return 336;
}

FrameSize ConvertedFrame(const Source& source, int32_t resolution) {
  const FrameSize coded{source.codedWidth, source.codedHeight};
  switch (resolution) {
    case kHighRes:
      return FitToWidth(coded, kHighWidthCap, source.darNum, source.darDen);
    case kStandardRes:
      return FitToWidth(coded, kStandardWidthCap, source.darNum, source.darDen);
    default:
      if (source.srcVideoWidth <= kSourceWidthCap) {
        return {source.srcVideoWidth, source.srcVideoHeight};
      }
      return FitToWidth(coded, kSourceWidthCap, source.darNum, source.darDen);
  }
}

int32_t FileKbps(int64_t fileSize, int32_t secDuration) {
  // A clip without a whole second has no meaningful rate; 0 keeps the labels and the job sane.
  if (secDuration <= 0) return 0;
  return static_cast<int32_t>(
      RoundHalfEven(static_cast<double>(fileSize) * 8.0 / (1000.0 * secDuration)));
}

Destination ComputeDestination(const Source& source, int32_t conversion, int32_t resolution,
                               int32_t customBps) {
  Destination destination;
  if (conversion == kNoCvt) {
    destination.frame = {source.srcVideoWidth, source.srcVideoHeight};
    destination.totalKbps = FileKbps(source.fileSize, source.secDuration);
    return destination;
  }
  destination.frame = ConvertedFrame(source, resolution);
  destination.audioKbps = AudioKbps(destination.frame.width);
  destination.videoKbps = customBps != 0
                              ? customBps - destination.audioKbps
                              : VideoKbps(destination.frame.width, destination.frame.height);
  destination.totalKbps = destination.videoKbps + destination.audioKbps;
  destination.hasBitrates = true;
  return destination;
}

double BytesFor(double kbps, int32_t seconds) { return kbps * 1000.0 * seconds / 8.0; }

double EstimateOutputBytes(const Source& source, int32_t conversion, int32_t resolution) {
  if (conversion != kLocalCvt) return static_cast<double>(source.fileSize);
  const FrameSize frame = ConvertedFrame(source, resolution);
  const double kbps = VideoKbps(frame.width, frame.height) + AudioKbps(frame.width);
  return HoldFourDecimals(BytesFor(kbps, source.secDuration));
}

QString GigabyteText(double gigabytes) { return QString::number(gigabytes, 'f', 2); }

QString SizeText(int64_t totalKbps, int32_t seconds, double* gigabytes) {
  const double bytes = static_cast<double>(totalKbps) * 1000.0 / 8.0 * seconds;
  const double megabytes = HoldFourDecimals(bytes / kBytesPerMB);
  if (gigabytes != nullptr) *gigabytes = 0;
  if (megabytes < 1024.0) {
    return QString::number(RoundHalfEven(megabytes)) + QStringLiteral(" MB");
  }
  const double gb = HoldFourDecimals(megabytes / 1024.0);
  if (gigabytes != nullptr) *gigabytes = gb;
  return GigabyteText(gb) + QStringLiteral(" GB");
}

bool ResolutionChoices::allows(int32_t resolution) const {
  switch (resolution) {
    case kSourceRes:
      return source;
    case kHighRes:
      return high;
    case kStandardRes:
      return standard;
    default:
      return false;
  }
}

ResolutionChoices AllowedResolutions(bool oldSystem, int32_t width) {
  if (!oldSystem) return {width != 640 && width != 1024, width >= 1024, width >= 640};
  if (width < 640) return {true, false, false};
  if (width == 640) return {false, false, true};
  if (width <= 1023) return {true, false, true};
  return {false, true, true};
}

int32_t FirstAllowedResolution(const ResolutionChoices& choices, int32_t resolution) {
  if (resolution < kSourceRes || resolution > kStandardRes) resolution = kSourceRes;
  for (int step = 0; step < 3; ++step) {
    const int32_t candidate = (resolution + step) % 3;
    if (choices.allows(candidate)) return candidate;
  }
  return -1;
}

ResolutionCaptionSizes CaptionSizes(const Source& source) {
  ResolutionCaptionSizes sizes;
  FrameSize pair{source.codedWidth, source.codedHeight};
  if (source.srcVideoWidth <= kSourceWidthCap) {
    sizes.source = {source.srcVideoWidth, source.srcVideoHeight};
  } else {
    pair = FitToWidth(pair, kSourceWidthCap, source.darNum, source.darDen);
    sizes.fullHd = true;
    sizes.source = pair;
  }
  pair = FitToWidth(pair, kHighWidthCap, source.darNum, source.darDen);
  sizes.high = pair;
  pair = FitToWidth(pair, kStandardWidthCap, source.darNum, source.darDen);
  sizes.standard = pair;
  return sizes;
}

QString DestinationPostfix(bool oldSystem, int32_t videoWidth) {
  if (videoWidth <= 640) return QString();
  if (oldSystem || videoWidth == 1024) return QStringLiteral("hd");
  return QStringLiteral("src");
}

std::array<int32_t, kPresetCount> CustomBpsPresets(int32_t defaultKbps) {
  std::array<int32_t, kPresetCount> presets{};
  for (int i = 0; i < kPresetCount; ++i) {
    presets[static_cast<size_t>(i)] =
        static_cast<int32_t>(RoundHalfEven((i * 0.2 + 1.0) * defaultKbps));
  }
  return presets;
}

}  // namespace cf::estimate
