#include "tests/app/media/TestClips.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

bool TestClips::Make(const QString& path, const QStringList& arguments) {
  QStringList all = {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-y")};
  all += arguments;
  all.append(path);
  int exitCode = -1;
  const QString output = RunProgram(QStringLiteral("/usr/bin/ffmpeg"), all, &exitCode);
  if (exitCode != 0) qWarning("ffmpeg failed: %s", qPrintable(output));
  return exitCode == 0 && QFileInfo(path).size() > 0;
}

bool TestClips::MakeVideo(const QString& path, int seconds, const QString& size, bool silent) {
  const QString duration = QString::number(seconds);
  QStringList arguments = {
      QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
      QStringLiteral("testsrc=size=%1:rate=30:duration=%2").arg(size, duration)};
  if (!silent) {
    arguments +=
        {QStringLiteral("-f"),   QStringLiteral("lavfi"),
         QStringLiteral("-i"),   QStringLiteral("sine=frequency=440:duration=%1").arg(duration),
         QStringLiteral("-c:a"), QStringLiteral("aac")};
  }
  arguments += {QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:v"),
                QStringLiteral("libx264"),  QStringLiteral("-preset"), QStringLiteral("ultrafast")};
  return Make(path, arguments);
}

QString TestClips::Probe(const QString& path, const QString& entries, const QStringList& extra) {
  QStringList arguments = {QStringLiteral("-v"),
                           QStringLiteral("error"),
                           QStringLiteral("-show_entries"),
                           entries,
                           QStringLiteral("-of"),
                           QStringLiteral("default=nw=1")};
  arguments += extra;
  arguments.append(path);
  return RunProgram(QStringLiteral("/usr/bin/ffprobe"), arguments);
}

QString TestClips::ProgramFolder() {
  const QString folder = qEnvironmentVariable("CLIPFERRY_PROGRAM_DIR");
  return folder.isEmpty() ? QStringLiteral(CLIPFERRY_BUILD_PROGRAM_DIR) : folder;
}

QString TestClips::RunProgram(const QString& program, const QStringList& arguments, int* exitCode) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(program, arguments);
  process.waitForFinished(120000);
  if (exitCode != nullptr) {
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  return QString::fromLocal8Bit(process.readAll());
}

bool TestClips::MakeNoiseVideo(const QString& path, const QString& bitrate) {
  return Make(path, {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("nullsrc=size=320x240:rate=30:duration=2,"
                                    "geq=lum='random(1)*255':cb=128:cr=128"),
                     QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:v"),
                     QStringLiteral("libx264"), QStringLiteral("-preset"),
                     QStringLiteral("ultrafast"), QStringLiteral("-b:v"), bitrate,
                     QStringLiteral("-maxrate"), bitrate, QStringLiteral("-bufsize"), bitrate});
}

bool TestClips::WriteNoise(const QString& path, qint64 bytes, quint32 seed) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QRandomGenerator random(seed);
  QByteArray chunk(1024 * 1024, Qt::Uninitialized);
  for (qint64 written = 0; written < bytes; written += chunk.size()) {
    random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
    if (file.write(chunk) != chunk.size()) return false;
  }
  return file.flush();
}
