#include "app/media/RunLog.h"

#include "app/services/ProgramFolder.h"
#include "platform/codepage/CodePage.h"

#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QSaveFile>

QString RunLog::Header(const QDate& day) {
  return QStringLiteral("---- ") + QLocale::system().toString(day, QLocale::ShortFormat);
}

bool RunLog::Append(const QString& folder, const QString& text, const QDate& today) {
  // A conversion runs on a thread of its own; two appends must not both rewrite the file.
  static QMutex mutex;
  const QMutexLocker lock(&mutex);
  const QString path = JoinPath(folder, QString::fromLatin1(kFileName));
  const QString header = Header(today);
  QFile existing(path);
  if (existing.exists()) {
    if (!existing.open(QIODevice::ReadOnly)) return false;
    const QString content = cf::codepage::FromAnsi(existing.readAll());
    existing.close();
    // Only a header line counts, so that a run whose output happens to quote one cannot
    // make the file lose entries.
    qsizetype first = -1;
    for (qsizetype at = content.indexOf(header); at >= 0; at = content.indexOf(header, at + 1)) {
      const bool lineStart = at == 0 || content[at - 1] == QLatin1Char('\n');
      const qsizetype end = at + header.size();
      const bool lineEnd = end == content.size() || content[end] == QLatin1Char('\r') ||
                           content[end] == QLatin1Char('\n');
      if (lineStart && lineEnd) {
        first = at;
        break;
      }
    }
    if (first > 0) {
      QSaveFile rewrite(path);
      if (!rewrite.open(QIODevice::WriteOnly)) return false;
      rewrite.write(cf::codepage::ToAnsi(content.mid(first)));
      if (!rewrite.commit()) return false;
    }
  }
  QFile log(path);
  if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
  const QString entry = QStringLiteral("\r\n") + header + QStringLiteral("\r\n") + text;
  const QByteArray bytes = cf::codepage::ToAnsi(entry);
  return log.write(bytes) == bytes.size();
}
