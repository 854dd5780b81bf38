// thumb SOURCE TARGET PAGEWIDTH PAGEHEIGHT WIDTH HEIGHT WAIT
// Renders a project's link-item file into the JPEG slide TARGET of WIDTH x HEIGHT, laid out on a
// page of PAGEWIDTH x PAGEHEIGHT. The caller writes every blank of the two paths as ",", so that
// its command line needs no quotes. WAIT is the time in milliseconds a page may take to load; the
// pages read here are local and laid out at once, so it is only checked.

#include "tools/thumb/PageRenderer.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>

namespace {

constexpr int kJpegQuality = 90;
constexpr int kMaxWaitMs = 600000;

int Usage() {
  std::fprintf(stderr, "usage: thumb SOURCE TARGET PAGEWIDTH PAGEHEIGHT WIDTH HEIGHT WAIT\n");
  return 2;
}

bool ParseNumber(const char* text, int low, int high, int* value) {
  bool ok = false;
  *value = QString::fromLocal8Bit(text).toInt(&ok, 10);
  return ok && *value >= low && *value <= high;
}

QString CommandLinePath(const char* text) {
  return QFile::decodeName(text).replace(QLatin1Char(','), QLatin1Char(' '));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) return Usage();
  int pageWidth = 0;
  int pageHeight = 0;
  int width = 0;
  int height = 0;
  int wait = 0;
  if (!ParseNumber(argv[3], 1, PageRenderer::kMaxSide, &pageWidth) ||
      !ParseNumber(argv[4], 1, PageRenderer::kMaxSide, &pageHeight) ||
      !ParseNumber(argv[5], 1, PageRenderer::kMaxSide, &width) ||
      !ParseNumber(argv[6], 1, PageRenderer::kMaxSide, &height) ||
      !ParseNumber(argv[7], 0, kMaxWaitMs, &wait)) {
    return Usage();
  }
  // Fonts and painting need a GUI application, but the renderer never shows a window.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString source = CommandLinePath(argv[1]);
  const QString target = CommandLinePath(argv[2]);

  QImage slide;
  QString error;
  if (!PageRenderer::Render(source, QSize(pageWidth, pageHeight), QSize(width, height), &slide,
                            &error)) {
    std::fprintf(stderr, "thumb: %s\n", qUtf8Printable(error));
    return 1;
  }
  QDir().mkpath(QFileInfo(target).absolutePath());
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "thumb: cannot write \"%s\"\n", qUtf8Printable(target));
    return 1;
  }
  QImageWriter writer(&file, "jpeg");
  writer.setQuality(kJpegQuality);
  if (!writer.write(slide) || !file.commit()) {
    std::fprintf(stderr, "thumb: cannot write \"%s\"\n", qUtf8Printable(target));
    return 1;
  }
  return 0;
}
