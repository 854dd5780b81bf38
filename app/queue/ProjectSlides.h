#pragma once

#include <QString>

#include <functional>

namespace cf {

class CProjectFile;
class KqLibrary;

// The slide pictures of a recorded project, one per index entry, numbered in index order, and the
// small cover made from the first. Pictures of recorded segments come from the media store; link
// items are rendered by the thumb program. A failing step ends the work silently: the upload goes
// on with whatever pictures exist.
class ProjectSlides {
 public:
  using StatusFunction = std::function<void(const QString& text)>;

  static constexpr const char* kSlidesFolder = "slides";
  static constexpr const char* kThumbList = "thumbList.txt";
  static constexpr const char* kMediaStore = "media.kq";
  static constexpr const char* kCoverName = "cover.jpg";
  static constexpr int kCoverWidth = 160;
  static constexpr int kCoverHeight = 120;

  ProjectSlides(const QString& projectFolder, const CProjectFile& project, const KqLibrary& library,
                int width, int height, StatusFunction status);

  // Runs every step; false when one failed (the later ones were skipped).
  bool Create();

  // The command line that renders link item `number` (1-based) whose file is `url`. Blanks in both
  // paths become "," since the renderer takes them back that way. Empty when the paths cannot be
  // passed as the same files (a real "," in them, or see CommandLine::UnpassableReason).
  QString ThumbCommand(int number, const QString& url) const;

  // Scales `source` to the cover's size as a 24-bit JPEG at `target`.
  static bool MakeCover(const QString& source, const QString& target);

  // Milliseconds the slide maker may report no progress before its work counts as failed.
  void setStallMs(int ms) { stallMs_ = ms; }

 private:
  bool WriteThumbList() const;
  bool RenameAndRender();

  QString folder_;
  const CProjectFile& project_;
  const KqLibrary& library_;
  int width_;
  int height_;
  StatusFunction status_;
  int stallMs_;
};

}  // namespace cf
