// MP4Box as the conversion runs it: "MP4Box FILE -inter 500 -out TEMP".

#include "tests/app/media/TestClips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

QString Tool() { return TestClips::ProgramFolder() + QStringLiteral("/MP4Box"); }

// The file's top-level box types in order.
QStringList TopLevelBoxes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = file.readAll();
  QStringList boxes;
  qint64 at = 0;
  while (at + 8 <= data.size()) {
    quint64 size = qFromBigEndian<quint32>(data.constData() + at);
    if (size == 1 && at + 16 <= data.size())
      size = qFromBigEndian<quint64>(data.constData() + at + 8);
    boxes.append(QString::fromLatin1(data.mid(at + 4, 4)));
    if (size < 8) break;
    at += static_cast<qint64>(size);
  }
  return boxes;
}

struct StreamRun {
  int stream;
  double firstDts;
  double lastDts;
};

// Consecutive packets of one stream in file order.
QList<StreamRun> StreamRuns(const QString& path) {
  QMap<qint64, QPair<int, double>> byPosition;
  const QString csv = TestClips::RunProgram(
      QStringLiteral("/usr/bin/ffprobe"),
      {"-v", "error", "-show_entries", "packet=stream_index,dts_time,pos", "-of", "csv=p=0", path});
  for (const QString& line : csv.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() != 3) continue;
    byPosition.insert(fields[2].toLongLong(), {fields[0].toInt(), fields[1].toDouble()});
  }
  QList<StreamRun> runs;
  for (const auto& [stream, dts] : byPosition) {
    if (runs.isEmpty() || runs.last().stream != stream) {
      runs.append({stream, dts, dts});
    } else {
      runs.last().lastDts = dts;
    }
  }
  return runs;
}

class Mp4InterleaverTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.isValid()); }
  QString Path(const char* name) const { return folder_.filePath(QString::fromLatin1(name)); }
  QTemporaryDir folder_;
};

TEST_F(Mp4InterleaverTest, InterleavesInChunksWithTheIndexInFront) {
  const QString encoded = Path("video.mp4");
  ASSERT_TRUE(TestClips::MakeVideo(encoded, 3));
  ASSERT_EQ(TopLevelBoxes(encoded).indexOf(QStringLiteral("moov")),
            TopLevelBoxes(encoded).size() - 1);
  const QString out = Path("rad1F2E3.tmp.mp4");

  int exitCode = -1;
  const QString console =
      TestClips::RunProgram(Tool(), {encoded, "-inter", "500", "-out", out}, &exitCode);
  ASSERT_EQ(exitCode, 0) << console.toStdString();

  const QStringList boxes = TopLevelBoxes(out);
  ASSERT_TRUE(boxes.contains(QStringLiteral("moov")) && boxes.contains(QStringLiteral("mdat")));
  EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat")));

  const QString entries = QStringLiteral("stream=codec_name,nb_read_packets");
  const QStringList countArgs = {"-count_packets"};
  EXPECT_EQ(TestClips::Probe(out, entries, countArgs),
            TestClips::Probe(encoded, entries, countArgs));

  const QList<StreamRun> runs = StreamRuns(out);
  ASSERT_GE(runs.size(), 10);  // 3 s of two streams in half-second chunks
  for (const StreamRun& run : runs) {
    // One frame of slack: a chunk ends at the first packet at or past its boundary.
    EXPECT_LE(run.lastDts - run.firstDts, 0.5 + 0.05)
        << "stream " << run.stream << " at " << run.firstDts;
  }
  EXPECT_FALSE(QFile::exists(out + QStringLiteral(".part")));
}

TEST_F(Mp4InterleaverTest, RefusesWhatItCannotInterleaveAndLeavesNoOutput) {
  ASSERT_TRUE(
      TestClips::Make(Path("video.flv"), {"-f", "lavfi", "-i", "testsrc=size=160x120:duration=1",
                                          "-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "flv"}));
  QFile text(Path("notes.mp4"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("not a video");
  text.close();
  ASSERT_TRUE(TestClips::MakeVideo(Path("good.mp4"), 1));

  const struct {
    const char* name;
    QStringList arguments;
    int exitCode;
  } cases[] = {
      // A FLV result must stay as the encoder made it.
      {"flv input", {Path("video.flv"), "-inter", "500", "-out", Path("out.mp4")}, 1},
      {"not a video", {Path("notes.mp4"), "-inter", "500", "-out", Path("out.mp4")}, 1},
      {"missing input", {Path("gone.mp4"), "-inter", "500", "-out", Path("out.mp4")}, 1},
      {"output folder missing",
       {Path("good.mp4"), "-inter", "500", "-out", Path("none/out.mp4")},
       1},
      {"no chunk length", {Path("good.mp4"), "-out", Path("out.mp4")}, 2},
      {"zero chunk length", {Path("good.mp4"), "-inter", "0", "-out", Path("out.mp4")}, 2},
      {"chunk length not a number", {Path("good.mp4"), "-inter", "5x", "-out", Path("out.mp4")}, 2},
  };
  for (const auto& c : cases) {
    int exitCode = -1;
    TestClips::RunProgram(Tool(), c.arguments, &exitCode);
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    EXPECT_EQ(QDir(folder_.path()).entryList({"out*"}), QStringList()) << c.name;
  }
}

}  // namespace
