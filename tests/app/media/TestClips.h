#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
  *out << '{';
  for (const QString& text : list) *out << " \"" << text.toStdString() << '"';
  *out << " }";
}

// Small media files made at test time with the installed ffmpeg's generated sources, and ffprobe
// read-backs, for the tests of everything that runs the media tools.
class TestClips {
 public:
  // Runs /usr/bin/ffmpeg with `arguments` and `path` as the output; true when the file was made.
  static bool Make(const QString& path, const QStringList& arguments);

  // A clip of `seconds` from the test pattern, H.264 4:2:0 in MP4, with a tone unless `silent`.
  static bool MakeVideo(const QString& path, int seconds,
                        const QString& size = QStringLiteral("160x120"), bool silent = false);

  // Two seconds of 320x240 noise, H.264 in MP4 at a fixed `bitrate` ("6M"): noise does not
  // compress, so the file has the size the bitrate says.
  static bool MakeNoiseVideo(const QString& path, const QString& bitrate);
  // A file of `bytes` random bytes (a whole number of MiB): what no compression shrinks, standing
  // for a source the server converts, which is packed as it is.
  static bool WriteNoise(const QString& path, qint64 bytes, quint32 seed);

  // ffprobe's answer for one entry list, e.g. "stream=width,height", as "key=value" lines.
  static QString Probe(const QString& path, const QString& entries, const QStringList& extra = {});

  // The build's program folder (the converter front end and the tools live there).
  static QString ProgramFolder();

  // The whole output of a program run to its end (standard output and error together).
  static QString RunProgram(const QString& program, const QStringList& arguments,
                            int* exitCode = nullptr);
};
