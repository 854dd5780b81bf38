#include "app/cli/ProbeCommand.h"

#include "app/cli/CliCommands.h"
#include "app/media/VideoProbe.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QString Flag(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

int Probe(const QStringList& arguments) {
  QStringList files = arguments;
  bool json = false;
  const qsizetype optionsEnd = files.indexOf(QStringLiteral("--"));
  const qsizetype jsonAt = files.indexOf(QStringLiteral("--json"));
  if (jsonAt >= 0 && (optionsEnd < 0 || jsonAt < optionsEnd)) {
    json = true;
    files.removeAt(jsonAt);
  }
  files.removeOne(QStringLiteral("--"));
  if (files.size() != 1) {
    std::fprintf(stderr, "usage: clipferry-cli probe [--json] FILE\n");
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
  if (json) {
    const QJsonObject fields{{QStringLiteral("durationText"), info.durationText},
                             {QStringLiteral("secDuration"), info.secDuration},
                             {QStringLiteral("codedWidth"), info.codedWidth},
                             {QStringLiteral("codedHeight"), info.codedHeight},
                             {QStringLiteral("darNum"), info.darNum},
                             {QStringLiteral("darDen"), info.darDen},
                             {QStringLiteral("displayWidth"), info.displayWidth},
                             {QStringLiteral("displayHeight"), info.displayHeight},
                             {QStringLiteral("interlaced"), info.interlaced},
                             {QStringLiteral("isWmv3"), info.isWmv3}};
    std::printf("%s\n", QJsonDocument(fields).toJson(QJsonDocument::Compact).constData());
    return 0;
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
  commands.Register(QStringLiteral("probe"), QStringLiteral("probe [--json] FILE"),
                    QStringLiteral("print a video's duration, size, aspect and interlacing"),
                    Probe);
}
