#include "app/cli/RunOutput.h"

#include <QHash>
#include <QJsonDocument>

#include <cstdio>

namespace RunOutput {
namespace {

bool g_json = false;
QHash<QString, QJsonObject> g_attached;

}  // namespace

void SetJson(bool json) { g_json = json; }

void Attach(const QString& kind, const QJsonObject& fields) {
  QJsonObject& attached = g_attached[kind];
  for (auto it = fields.begin(); it != fields.end(); ++it) attached.insert(it.key(), it.value());
}

void Print(const QString& line, const QJsonObject& fields) {
  if (!g_json) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    return;
  }
  const qsizetype colon = line.indexOf(QLatin1String(": "));
  const QString kind = colon < 0 ? QStringLiteral("message") : line.left(colon);
  QJsonObject object{{QStringLiteral("event"), kind},
                     {QStringLiteral("text"), colon < 0 ? line : line.mid(colon + 2)}};
  for (const QJsonObject& extra : {g_attached.take(kind), fields}) {
    for (auto it = extra.begin(); it != extra.end(); ++it) object.insert(it.key(), it.value());
  }
  // Compact output holds no line break, so a reader can take the stream a line at a time.
  std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
  std::fflush(stdout);
}

}  // namespace RunOutput
