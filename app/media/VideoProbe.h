#pragma once

#include "app/media/VideoInfo.h"

#include <QString>

// Learns a video's duration, frame size, display aspect and interlacing by running the converter
// on it once and reading its console text. It shows nothing: on failure `failureText` (when
// given) holds the message for the caller to show. `quiet` is the batch dialog's mode, where an
// empty output is a failure without a text.
bool ProbeVideo(const QString& path, bool quiet, VideoInfo* info, QString* failureText = nullptr);

// The reading half of the probe, on the converter's console text; shows nothing.
bool ParseProbeOutput(const QString& output, bool quiet, VideoInfo* info, QString* failureText);

// Distinct video streams of the input description (the text before "Output #").
int CountVideoStreams(const QString& output);
