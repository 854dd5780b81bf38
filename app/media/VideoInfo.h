#pragma once

#include <QString>

// What the probe learns of a video before it is queued.
struct VideoInfo {
  QString durationText;  // as the converter printed it, e.g. "00:01:02.50"
  int secDuration = 0;   // whole seconds
  int codedWidth = 0;
  int codedHeight = 0;
  int darNum = 0;  // display aspect; 0:0 when none was found
  int darDen = 0;
  int displayWidth = 0;
  int displayHeight = 0;
  bool interlaced = false;  // no progressive frame was reported
  bool isWmv3 = false;
};
