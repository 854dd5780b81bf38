#include "app/queue/ProgramIdentity.h"

#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"

#include <QFileInfo>

QString ProgramIdentity::Version() {
  return GetResString(QStringLiteral("frmUpload"), QStringLiteral("frmVersion"),
                      QStringLiteral("2.100603"));
}

QString ProgramIdentity::WindowTitle() {
  return GetResString(QStringLiteral("frmUpload"), QStringLiteral("frmUpload")) +
         QStringLiteral(" - v.") + Version();
}

QString ProgramIdentity::InstanceName() {
  const QFileInfo folder(ProgramFolder());
  const QString canonical = folder.canonicalFilePath();
  return QStringLiteral("clipFerry ") +
         (canonical.isEmpty() ? folder.absoluteFilePath() : canonical);
}
