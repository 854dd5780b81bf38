// regsvr [-u] MODULE: registers a component module's classes for the current user, or removes
// them with -u, by calling the module's own registration entry point.

#include "platform/com/ComponentLoader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: regsvr [-u] MODULE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  bool unregister = false;
  if (!args.isEmpty() && args.first() == QStringLiteral("-u")) {
    unregister = true;
    args.removeFirst();
  }
  if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) return Usage();

  const QString module = QFileInfo(args.first()).absoluteFilePath();
  QString error;
  const cf::com::HRESULT hr = unregister
                                  ? cf::com::ComponentLoader::UnregisterModule(module, &error)
                                  : cf::com::ComponentLoader::RegisterModule(module, &error);
  if (cf::com::FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s\n", qUtf8Printable(error));
    return 1;
  }
  std::printf("%s %s\n", unregister ? "unregistered" : "registered", qUtf8Printable(module));
  return 0;
}
