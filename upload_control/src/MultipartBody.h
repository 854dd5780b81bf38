#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace kqmavo2 {

// The parts of one multipart/form-data request body, built before anything is sent so the
// total length can be announced. File contents are not a part: the caller writes them after
// the file-part header and counts them into the total itself.
class MultipartBody {
 public:
  static constexpr char kBoundary[] = "Qu1llbox5_Xu02=$";
  static constexpr char kContentTypeHeader[] =
      "Content-Type: multipart/form-data; boundary=Qu1llbox5_Xu02=$";

  static QByteArray FormFieldPart(const QByteArray& name, const QByteArray& value);
  static QByteArray FilePartHeader(const QByteArray& name, const QByteArray& fileName);
  // After a file the delimiter brings its own line break: raw file data ends without one,
  // while every form field part already ends with one.
  static QByteArray ClosingBoundary(bool afterFile);

  void AddField(const QByteArray& name, const QByteArray& value);
  void AddFileHeader(const QByteArray& name, const QByteArray& fileName);
  // Appends the closing delimiter; its form depends on whether a file header was added.
  void Close();

  const std::vector<QByteArray>& Parts() const { return parts_; }
  std::uint64_t Length() const;

 private:
  std::vector<QByteArray> parts_;
  bool filePart_ = false;
};

}  // namespace kqmavo2
