#pragma once

#include <QByteArray>
#include <QString>

class frmUpload;

// A second start of the window program hands over to the running one: it asks that window to
// come to the front, then ends.
namespace SecondStart {

// What a second start sends; clipferry-cli's queue documents never look like it.
inline constexpr char kShowWindow[] = "show-window";

// Asks the copy that holds `instanceName` to show its window; false when none answered.
bool AskRunningWindowToShow(const QString& instanceName);

// The running window's answer to a message from another process: shows itself for a second
// start, takes the jobs of clipferry-cli otherwise.
QByteArray Answer(frmUpload& window, const QByteArray& message);

}  // namespace SecondStart
