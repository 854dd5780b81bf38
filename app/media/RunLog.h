#pragma once

#include <QDate>
#include <QString>

// log.txt in the program folder: the output of every captured run of one day, each entry an
// empty line, a "---- <date>" header and the text. The first entry of a day keeps older days'
// entries; later runs of the day drop them, so the file holds at most one day beyond today.
class RunLog {
 public:
  static constexpr const char* kFileName = "log.txt";

  // Appends one entry; false when the file could not be written (callers ignore it).
  static bool Append(const QString& folder, const QString& text,
                     const QDate& today = QDate::currentDate());

  // The header line for a day, in the system's short date form.
  static QString Header(const QDate& day);
};
