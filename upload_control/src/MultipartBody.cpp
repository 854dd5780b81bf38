#include "upload_control/src/MultipartBody.h"

namespace kqmavo2 {
namespace {
QByteArray DashBoundary() { return QByteArray("--") + MultipartBody::kBoundary; }
}  // namespace

QByteArray MultipartBody::FormFieldPart(const QByteArray& name, const QByteArray& value) {
  return DashBoundary() + "\r\nContent-Disposition: form-data;name=\"" + name + "\"\r\n\r\n" +
         value + "\r\n";
}

QByteArray MultipartBody::FilePartHeader(const QByteArray& name, const QByteArray& fileName) {
  return DashBoundary() + "\r\nContent-Disposition: multipart/form-data;name=\"" + name +
         "\"; filename=\"" + fileName + "\"\r\nContent-Transfer-encoding: Binary\r\n\r\n";
}

QByteArray MultipartBody::ClosingBoundary(bool afterFile) {
  return (afterFile ? QByteArray("\r\n") : QByteArray()) + DashBoundary() + "--";
}

void MultipartBody::AddField(const QByteArray& name, const QByteArray& value) {
  parts_.push_back(FormFieldPart(name, value));
}

void MultipartBody::AddFileHeader(const QByteArray& name, const QByteArray& fileName) {
  parts_.push_back(FilePartHeader(name, fileName));
  filePart_ = true;
}

void MultipartBody::Close() {
  parts_.push_back(ClosingBoundary(filePart_));
  filePart_ = false;
}

std::uint64_t MultipartBody::Length() const {
  std::uint64_t total = 0;
  for (const QByteArray& part : parts_) total += static_cast<std::uint64_t>(part.size());
  return total;
}

}  // namespace kqmavo2
