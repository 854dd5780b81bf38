#include "app/cli/ProbeCommand.h"

#include "app/cli/CliCommands.h"
#include "app/media/VideoProbe.h"

#include <cstdio>

namespace {

QString Flag(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

int Probe(const QStringList& arguments) {
  QStringList files = arguments;
  files.removeAll(QStringLiteral("--"));
  if (files.size() != 1) {
    std::fprintf(stderr, "usage: clipferry-cli probe FILE\n");
    return CliCommands::kUsageError;
  }
  VideoInfo info;
  QString failure;
  // Quiet: the failure is printed here once rather than through the message service.
  if (!ProbeVideo(files.first(), true, &info, &failure)) {
    if (failure.isEmpty()) failure = QStringLiteral("The converter printed nothing.");
    std::fprintf(stderr, "%s\n", failure.toLocal8Bit().constData());
    return 1;
  }
  const QList<QPair<const char*, QString>> fields = {
      {"durationText", info.durationText},
      {"secDuration", QString::number(info.secDuration)},
      {"codedWidth", QString::number(info.codedWidth)},
      {"codedHeight", QString::number(info.codedHeight)},
      {"darNum", QString::number(info.darNum)},
      {"darDen", QString::number(info.darDen)},
      {"displayWidth", QString::number(info.displayWidth)},
      {"displayHeight", QString::number(info.displayHeight)},
      {"interlaced", Flag(info.interlaced)},
      {"isWmv3", Flag(info.isWmv3)},
  };
  for (const auto& [name, value] : fields) {
    std::printf("%s=%s\n", name, value.toLocal8Bit().constData());
  }
  return 0;
}

}  // namespace

void RegisterProbeCommand(CliCommands& commands) {
  commands.Register(QStringLiteral("probe"), QStringLiteral("probe FILE"),
                    QStringLiteral("print a video's duration, size, aspect and interlacing"),
                    Probe);
}
