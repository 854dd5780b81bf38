#pragma once

namespace kqmavo2 {

// Writes one debug line of the control (printf-style, at most 4095 characters) to the Qt debug
// log under the category "kqmavo2", where developers follow a request's progress. The category
// is off by default; QT_LOGGING_RULES="kqmavo2.debug=true" turns it on.
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kqmavo2
