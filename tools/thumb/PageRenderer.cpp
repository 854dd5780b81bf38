#include "tools/thumb/PageRenderer.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QStringDecoder>
#include <QTextDocument>
#include <QUrl>

namespace {

constexpr int kPageMargin = 16;
constexpr int kFontPixels = 18;

bool ReadBounded(const QString& path, qint64 limit, QByteArray* bytes, QString* error) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("cannot open \"%1\"").arg(path);
    return false;
  }
  if (file.size() > limit) {
    *error = QStringLiteral("\"%1\" is too large for a slide").arg(path);
    return false;
  }
  *bytes = file.read(limit + 1);
  if (bytes->size() > limit) {
    *error = QStringLiteral("\"%1\" is too large for a slide").arg(path);
    return false;
  }
  return true;
}

// A page may show pictures and style sheets from its own folder and below; nothing else is read,
// so a page cannot pull other files of the machine into a slide that is uploaded.
class PageDocument : public QTextDocument {
 public:
  explicit PageDocument(const QString& folder) : folder_(QDir::cleanPath(folder)) {}

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    if (type == QTextDocument::ImageResource) {
      QImage image;
      const QString path = Resolve(name);
      QByteArray bytes;
      QString error;
      if (!path.isEmpty() && ReadBounded(path, PageRenderer::kMaxImageBytes, &bytes, &error)) {
        image.loadFromData(bytes);
      }
      // Never an empty answer: the layout would then open the named file itself, wherever it is.
      if (image.isNull()) {
        image = QImage(1, 1, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
      }
      return image;
    }
    if (type == QTextDocument::StyleSheetResource) {
      const QString path = Resolve(name);
      QByteArray bytes;
      QString error;
      if (path.isEmpty() || !ReadBounded(path, PageRenderer::kMaxPageBytes, &bytes, &error)) {
        return QString(QLatin1String(""));
      }
      return QString::fromUtf8(bytes);
    }
    return {};
  }

 private:
  // The file a page names, when it lies inside the page's folder; empty otherwise.
  QString Resolve(const QUrl& name) const {
    QString relative;
    if (name.isRelative() && name.host().isEmpty()) {
      relative = name.path();
    } else if (name.isLocalFile()) {
      relative = name.toLocalFile();
    } else {
      return {};
    }
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString path = QDir::cleanPath(
        relative.startsWith(QLatin1Char('/')) ? relative : folder_ + QLatin1Char('/') + relative);
    const QString canonicalFolder = QFileInfo(folder_).canonicalFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty() || canonicalFolder.isEmpty() ||
        !canonical.startsWith(canonicalFolder + QLatin1Char('/'))) {
      return {};
    }
    return canonical;
  }

 private:
  QString folder_;
};

QString DecodeHtml(const QByteArray& bytes) {
  QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
  if (!decoder.isValid()) decoder = QStringDecoder(QStringDecoder::Utf8);
  return decoder.decode(bytes);
}

bool DecodeText(const QByteArray& bytes, QString* text) {
  if (const auto encoding = QStringConverter::encodingForData(bytes)) {
    QStringDecoder decoder(*encoding);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
  }
  // Without a byte-order mark: UTF-8 when it is valid, else the bytes as Latin-1; a file with
  // NUL bytes is no text page.
  if (bytes.contains('\0')) return false;
  QStringDecoder utf8(QStringDecoder::Utf8);
  *text = utf8.decode(bytes);
  if (utf8.hasError()) *text = QString::fromLatin1(bytes);
  return true;
}

QImage BlankPage(const QSize& page) {
  QImage image(page, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

bool RenderImage(const QString& source, const QSize& page, QImage* out, QString* error) {
  QByteArray bytes;
  if (!ReadBounded(source, PageRenderer::kMaxImageBytes, &bytes, error)) return false;
  QImage picture;
  if (!picture.loadFromData(bytes) || picture.isNull()) {
    *error = QStringLiteral("\"%1\" is not a picture this program reads").arg(source);
    return false;
  }
  *out = BlankPage(page);
  const QSize fitted = picture.size().scaled(page, Qt::KeepAspectRatio);
  QPainter painter(out);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(
      QRect(QPoint((page.width() - fitted.width()) / 2, (page.height() - fitted.height()) / 2),
            fitted),
      picture);
  return true;
}

bool RenderDocument(const QString& source, PageRenderer::Kind kind, const QSize& page, QImage* out,
                    QString* error) {
  QByteArray bytes;
  if (!ReadBounded(source, PageRenderer::kMaxPageBytes, &bytes, error)) return false;
  PageDocument document(QFileInfo(source).absolutePath());
  QFont font = document.defaultFont();
  font.setPixelSize(kFontPixels);
  document.setDefaultFont(font);
  document.setDocumentMargin(kPageMargin);
  if (kind == PageRenderer::Kind::Html) {
    document.setHtml(DecodeHtml(bytes));
  } else {
    QString text;
    if (!DecodeText(bytes, &text)) {
      *error = QStringLiteral("\"%1\" is not a text page").arg(source);
      return false;
    }
    document.setPlainText(text);
  }
  document.setTextWidth(page.width());
  *out = BlankPage(page);
  QPainter painter(out);
  document.drawContents(&painter, QRectF(QPointF(0, 0), QSizeF(page)));
  return true;
}

}  // namespace

PageRenderer::Kind PageRenderer::KindOf(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  static const QStringList html = {QStringLiteral("htm"), QStringLiteral("html"),
                                   QStringLiteral("xhtml"), QStringLiteral("xht")};
  if (html.contains(suffix)) return Kind::Html;
  const QList<QByteArray> formats = QImageReader::supportedImageFormats();
  if (!suffix.isEmpty() && formats.contains(suffix.toLatin1())) return Kind::Image;
  return Kind::Text;
}

bool PageRenderer::Render(const QString& source, const QSize& page, const QSize& slide, QImage* out,
                          QString* error) {
  const auto inRange = [](const QSize& size) {
    return size.width() >= 1 && size.height() >= 1 && size.width() <= kMaxSide &&
           size.height() <= kMaxSide;
  };
  if (!inRange(page) || !inRange(slide)) {
    *error = QStringLiteral("page or slide size out of range");
    return false;
  }
  QImage rendered;
  const Kind kind = KindOf(source);
  const bool ok = kind == Kind::Image ? RenderImage(source, page, &rendered, error)
                                      : RenderDocument(source, kind, page, &rendered, error);
  if (!ok) return false;
  *out = rendered.scaled(slide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return true;
}
