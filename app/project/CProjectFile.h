#pragma once

#include "app/project/CIndexItem.h"

#include <QString>

#include <pugixml.hpp>

#include <cstdint>
#include <vector>

namespace cf {

// A recorded project's file (project.kqp) held in memory: its descriptive texts, the player
// settings it carries, and its index of recorded items. Load reads and normalises it, the caller
// changes what it needs, Save writes the values back into the same document and rebuilds the
// index. The program works on one project at a time through Shared().
class CProjectFile {
 public:
  CProjectFile() = default;
  CProjectFile(const CProjectFile&) = delete;
  CProjectFile& operator=(const CProjectFile&) = delete;

  static CProjectFile& Shared();

  // Reads `file`. False without a message when it does not exist; otherwise false after telling
  // the user what could not be read, unless `bSilentMode`.
  bool Load(const QString& file, bool bSilentMode = false);

  // Writes the values into the loaded document and saves it to `FileName` (the loaded file when
  // empty): the new text goes to FileName + ".tmp" first and replaces the file only when it is
  // complete. A failure gives false, leaves the old file as it was and is described by
  // saveFailure() for the caller to show.
  bool Save(const QString& FileName = {});
  struct Failure {
    QString title;  // empty, or the title the message goes under
    QString text;
  };
  const Failure& saveFailure() const { return saveFailure_; }

  // The format version text as stored, e.g. "6.0".
  QString version;

  QString title;
  QString Author;
  QString Manager;
  QString Company;
  QString Category;
  QString Keywords;
  QString Comments;

  QString Template;
  QString PhotoFile;
  QString PhotoSize;
  QString SoundFile;
  QString SoundVolume;
  QString ShowCursor;
  QString VideoBitRate;
  QString VideoSize;
  QString VideoPreview;
  QString IndexType;

  // Items at or beyond the duration are dropped when saving.
  bool CheckIndexPos = true;

  // The project's length in milliseconds; 0 when its stored text cannot be read.
  int32_t duration() const;
  void setDuration(int32_t ms);
  QString durationText() const { return durationText_; }

  // The index in file order. The operations below address items from 1.
  std::vector<CIndexItem> IndexItem;
  int IndexCount() const { return static_cast<int>(IndexItem.size()); }
  const CIndexItem& Item(int Index) const { return IndexItem.at(static_cast<size_t>(Index - 1)); }
  void AddIndex(const QString& strTitle, const QString& strPos, const QString& strDate,
                const QString& strUrl, const QString& strLen, const QString& strEnd,
                bool bSelected);
  // kRemoveAll removes every item; other values remove that item (nothing when out of range).
  void RemoveIndex(int Index);
  // False when there is no such item.
  bool SetTitle(int Index, const QString& strTitle);

  static constexpr int kRemoveAll = -99;

  // The path last loaded, and its folder.
  QString filePath() const { return filePath_; }
  QString projectFolder() const;

  // The file a link item's Url names inside the project folder. False for an empty Url, a web
  // address, an absolute path, or one that leaves the folder (also through a symbolic link).
  static bool ResolveProjectPath(const QString& projectFolder, const QString& url, QString* path);

  // Anything larger is not a project file; the reader refuses it before parsing.
  static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
  // A rewrite of this size or less cannot hold a whole project and is not put in place.
  static constexpr qint64 kMinSavedBytes = 500;

 private:
  Failure saveFailure_;
  pugi::xml_node FindElement(const char* path) const;
  bool ReadProject(QString* failedPart);
  bool ReadIndex(pugi::xml_node index, QString* failedPart);
  bool CopyCursorScript() const;
  bool WriteValues();
  bool RebuildIndex();
  QByteArray SavedBytes(bool* ok);

  pugi::xml_document doc_;
  bool loaded_ = false;
  QString filePath_;
  QString prefix_;
  QString durationText_ = QStringLiteral("0");
  pugi::xml_encoding encoding_ = pugi::encoding_utf8;
  bool hadBom_ = false;
};

}  // namespace cf
