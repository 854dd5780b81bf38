#pragma once

#include <QJsonObject>
#include <QString>

// What clipferry-cli run prints, a line per event in the form "kind: text". With --json each line
// is instead one compact JSON object: {"event": kind, "text": text} and the event's own fields.
namespace RunOutput {

void SetJson(bool json);
void Print(const QString& line, const QJsonObject& fields = {});
// Fields for the next event of `kind`, for an event whose line is printed elsewhere.
void Attach(const QString& kind, const QJsonObject& fields);

}  // namespace RunOutput
