#include "tests/tools/kqserver/BlockUploader.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <pugixml.hpp>

#include "tests/tools/kqserver/WireRequest.h"

BlockUploader::BlockUploader(const KqServerProcess& server, QByteArray account, QByteArray password,
                             qint64 folderId, qint64 contentId)
    : server_(server),
      account_(std::move(account)),
      password_(std::move(password)),
      folderId_(folderId),
      contentId_(contentId) {
  NewSession();
}

void BlockUploader::NewSession() {
  // Seconds since 1970, then nine random digits, like the uploader's identifiers.
  sessionId_ = QByteArray::number(QDateTime::currentSecsSinceEpoch()) +
               QByteArray::number(QRandomGenerator::global()->bounded(100000000, 999999999));
}

KqServerProcess::Reply BlockUploader::Send(qint64 seqno, bool final, const QByteArray& data,
                                           const QByteArray& url, qint64 blockSizeField) const {
  return server_.Post("/mavo/putFile" + QString::fromLatin1(url) + "/",
                      WireRequest::BlockBody(account_, password_, folderId_, contentId_, sessionId_,
                                             seqno, final, data, blockSizeField),
                      WireRequest::kContentType);
}

KqServerProcess::Reply BlockUploader::UploadAll(const QByteArray& file) const {
  const qint64 count = BlockCount(file);
  QByteArray url;
  KqServerProcess::Reply reply;
  for (qint64 seqno = 0; seqno < count; ++seqno) {
    const bool final = seqno == count - 1;
    reply = Send(seqno, final, BlockOf(file, seqno), url);
    if (final) break;
    url = QByteArray::fromStdString(Value(reply.body, "url"));
    if (url.isEmpty()) break;
  }
  return reply;
}

KqServerProcess::Reply BlockUploader::Cancel() const {
  return server_.Post("/mavo/putFile/", WireRequest::CancelBody(sessionId_),
                      WireRequest::kContentType);
}

QByteArray BlockUploader::BlockOf(const QByteArray& file, qint64 seqno) {
  return file.mid(seqno * kBlockSize, kBlockSize);
}

qint64 BlockUploader::BlockCount(const QByteArray& file) {
  return file.isEmpty() ? 1 : (file.size() + kBlockSize - 1) / kBlockSize;
}

QByteArray BlockUploader::MakeZip(qint64 approximateBytes) {
  QTemporaryDir dir;
  const qint64 files = 3;
  for (qint64 i = 0; i < files; ++i) {
    QByteArray bytes(approximateBytes / files, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / 4);
    QFile file(dir.filePath("part" + QString::number(i) + ".bin"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
  }
  QProcess zip;
  zip.setWorkingDirectory(dir.path());
  zip.start("zip", {"-0", "-q", "-r", "mavo_file.zip", "part0.bin", "part1.bin", "part2.bin"});
  if (!zip.waitForFinished(60000) || zip.exitCode() != 0) return {};
  QFile archive(dir.filePath("mavo_file.zip"));
  return archive.open(QIODevice::ReadOnly) ? archive.readAll() : QByteArray();
}

std::string BlockUploader::Value(const QByteArray& xml, const std::string& dottedPath) {
  pugi::xml_document document;
  if (!document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()))) return "";
  pugi::xml_node node = document.document_element();
  size_t start = 0;
  for (;;) {
    const size_t dot = dottedPath.find('.', start);
    node = node.child(dottedPath.substr(start, dot - start).c_str());
    if (!node || dot == std::string::npos) break;
    start = dot + 1;
  }
  return node ? node.text().get() : "";
}
