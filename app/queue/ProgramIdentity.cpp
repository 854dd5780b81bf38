#include "app/queue/ProgramIdentity.h"

#include "app/services/modLanguage.h"

QString ProgramIdentity::Version() {
  return GetResString(QStringLiteral("frmUpload"), QStringLiteral("frmVersion"),
                      QStringLiteral("2.100603"));
}

QString ProgramIdentity::WindowTitle() {
  return GetResString(QStringLiteral("frmUpload"), QStringLiteral("frmUpload")) +
         QStringLiteral(" - v.") + Version();
}
