#include "upload_control/src/DebugLog.h"

#include <QLoggingCategory>

#include <cstdarg>
#include <cstdio>

namespace kqmavo2 {
namespace {
// Off unless asked for (QT_LOGGING_RULES="kqmavo2.debug=true"), like output to a debugger that
// nobody attached: the lines would otherwise fill the terminal of every program using the control.
Q_LOGGING_CATEGORY(lcKqmavo2, "kqmavo2", QtInfoMsg)
constexpr int kDebugLineUnits = 4096;
}  // namespace

void DebugLog(const char* format, ...) {
  if (!lcKqmavo2().isDebugEnabled()) return;
  char line[kDebugLineUnits];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  qCDebug(lcKqmavo2).noquote() << QString::fromUtf8(line).trimmed();
}

}  // namespace kqmavo2
