#include "upload_control/src/ResultDocument.h"

namespace kqmavo2 {
namespace {
constexpr char kDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8" ?>)";
}

QString ResultDocument::Build(const QString& root, int code) {
  return QStringLiteral("%1<%2 ver=\"2.0\"><errInfo>%3</errInfo></%2>")
      .arg(QLatin1String(kDeclaration), root)
      .arg(code);
}

QString ResultDocument::BuildUnversioned(const QString& root, int code) {
  return QStringLiteral("%1<%2><errInfo>%3</errInfo></%2>")
      .arg(QLatin1String(kDeclaration), root)
      .arg(code);
}

}  // namespace kqmavo2
