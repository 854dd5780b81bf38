#include "app/project/CProjectFile.h"

#include "app/media/modDebug.h"
#include "app/project/CTime.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/XmlFile.h"
#include "app/services/modGlobal.h"
#include "app/services/modLanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

#include <unistd.h>

namespace cf {

namespace {

constexpr char kSaveTitle[] = "kqp.Save";
constexpr char kDefaultTitle[] = "Quillbox Title";
constexpr char kCursorScript[] = "kqctrl.js";
constexpr char kCursorScriptFolder[] = "encfiles";
constexpr char kTimePrecision[] = "ms";

QString Utf8(const char* text) { return QString::fromUtf8(text); }

// All text below an element, as a DOM's text property gives it.
QString ElementText(pugi::xml_node element) {
  QByteArray text;
  for (pugi::xml_node node = element.first_child(); node;) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
      text += node.value();
    }
    // Depth-first walk without recursion, so deep nesting cannot exhaust the stack.
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && node != element && !node.next_sibling()) node = node.parent();
    if (!node || node == element) break;
    node = node.next_sibling();
  }
  return QString::fromUtf8(text);
}

void SetElementText(pugi::xml_node element, const QString& text) {
  while (element.first_child()) element.remove_child(element.first_child());
  if (!text.isEmpty()) element.append_child(pugi::node_pcdata).set_value(text.toUtf8().constData());
}

QString ChildText(pugi::xml_node parent, const char* name, const QString& fallback) {
  const pugi::xml_node child = parent.child(name);
  return child ? ElementText(child) : fallback;
}

// Writes into the existing child, or appends one when the file never had it, so that a value the
// user changed is never dropped.
pugi::xml_node SetChildText(pugi::xml_node parent, const char* name, const QString& text) {
  pugi::xml_node child = parent.child(name);
  if (!child) child = parent.append_child(name);
  SetElementText(child, text);
  return child;
}

// A position as the index stores it: decimal milliseconds, or -1 for a link item.
bool ParsePosition(const QString& text, int32_t* ms) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  if (!ok || value < -1) return false;
  *ms = value;
  return true;
}

QString ProjectErrorText() {
  return GetResString(QStringLiteral("frmCommon"), QStringLiteral("msgKqpError"),
                      QStringLiteral("The project file is damaged and cannot be read. Failed at:"));
}

QByteArray WithLineBreaks(const QByteArray& xml) {
  QByteArray out;
  out.reserve(xml.size() + xml.size() / 8);
  for (qsizetype i = 0; i < xml.size(); ++i) {
    out.append(xml[i]);
    if (xml[i] == '>' && i + 1 < xml.size() && xml[i + 1] == '<') out.append("\r\n");
  }
  return out;
}

bool StartsWithBom(const QByteArray& bytes) {
  return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
         bytes.startsWith("\xFE\xFF");
}

}  // namespace

CProjectFile& CProjectFile::Shared() {
  static CProjectFile project;
  return project;
}

int32_t CProjectFile::duration() const {
  bool ok = false;
  const int32_t ms = CTime::GetSecond(durationText_, &ok);
  return ok ? ms : 0;
}

void CProjectFile::setDuration(int32_t ms) {
  durationText_ = CTime::GetString(ms, QLatin1String(kTimePrecision));
}

void CProjectFile::AddIndex(const QString& strTitle, const QString& strPos, const QString& strDate,
                            const QString& strUrl, const QString& strLen, const QString& strEnd,
                            bool bSelected) {
  CIndexItem item;
  item.title = strTitle;
  item.pos = strPos;
  item.RecDate = strDate;
  item.Url = strUrl;
  item.length = strLen;
  item.PosEnd = strEnd;
  item.Selected = bSelected;
  IndexItem.push_back(std::move(item));
}

void CProjectFile::RemoveIndex(int Index) {
  if (Index == kRemoveAll) {
    IndexItem.clear();
    return;
  }
  if (Index < 1 || Index > IndexCount()) return;
  IndexItem.erase(IndexItem.begin() + (Index - 1));
}

bool CProjectFile::SetTitle(int Index, const QString& strTitle) {
  if (Index < 1 || Index > IndexCount()) return false;
  IndexItem[static_cast<size_t>(Index - 1)].title = strTitle;
  return true;
}

QString CProjectFile::projectFolder() const {
  return filePath_.isEmpty() ? QString() : QFileInfo(filePath_).absolutePath();
}

bool CProjectFile::ResolveProjectPath(const QString& projectFolder, const QString& url,
                                      QString* path) {
  QString relative = url.trimmed();
  // Projects recorded on Windows write their page paths with backslashes.
  relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (relative.isEmpty() || projectFolder.isEmpty() || relative.startsWith(QLatin1Char('/')) ||
      relative.contains(QLatin1Char(':')) || relative.contains(QChar())) {
    return false;
  }
  const QString base = QDir::cleanPath(QFileInfo(projectFolder).absoluteFilePath());
  const QString full = QDir::cleanPath(base + QLatin1Char('/') + relative);
  if (!full.startsWith(base + QLatin1Char('/'))) return false;
  const QFileInfo info(full);
  if (info.exists()) {
    const QString canonicalBase = QFileInfo(base).canonicalFilePath();
    if (canonicalBase.isEmpty() ||
        !info.canonicalFilePath().startsWith(canonicalBase + QLatin1Char('/'))) {
      return false;
    }
  }
  *path = full;
  return true;
}

pugi::xml_node CProjectFile::FindElement(const char* path) const {
  pugi::xml_node node = doc_.document_element();
  const QString full = prefix_ + QString::fromUtf8(path);
  for (const QString& name : full.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
    node = node.child(name.toUtf8().constData());
    if (!node) break;
  }
  return node;
}

bool CProjectFile::Load(const QString& file, bool bSilentMode) {
  const QFileInfo info(file);
  if (!info.exists()) return false;

  loaded_ = false;
  filePath_ = file;
  doc_.reset();
  prefix_.clear();
  version.clear();
  CheckIndexPos = true;
  title = QLatin1String(kDefaultTitle);
  Author.clear();
  Manager.clear();
  Company.clear();
  Category.clear();
  Keywords.clear();
  Comments.clear();
  Template = QStringLiteral("default");
  PhotoFile = QStringLiteral("photo.gif");
  PhotoSize = QStringLiteral("160x120");
  SoundFile.clear();
  SoundVolume = QStringLiteral("3");
  ShowCursor = QStringLiteral("1");
  VideoBitRate = QStringLiteral("96");
  VideoSize.clear();
  VideoPreview = QStringLiteral("0");
  IndexType = QStringLiteral("OL");
  durationText_ = QStringLiteral("0");
  RemoveIndex(kRemoveAll);

  const auto fail = [&](const QString& part) {
    if (!bSilentMode) {
      ShowMessage(ProjectErrorText() + QLatin1Char(' ') + part, {}, MsgButtons::Ok,
                  MsgIcon::Critical);
    }
    doc_.reset();
    return false;
  };

  QFile source(file);
  if (!info.isFile() || info.size() > kMaxFileBytes || !source.open(QIODevice::ReadOnly)) {
    return fail(info.fileName());
  }
  const QByteArray bytes = source.read(kMaxFileBytes + 1);
  if (bytes.size() > kMaxFileBytes) return fail(info.fileName());
  const pugi::xml_parse_result parsed =
      doc_.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()),
                       pugi::parse_default | pugi::parse_declaration);
  if (!parsed || !doc_.document_element()) return fail(info.fileName());
  encoding_ = parsed.encoding;
  hadBom_ = StartsWithBom(bytes);

  version = Utf8(doc_.document_element().first_attribute().value());
  if (version.startsWith(QLatin1Char('5'))) {
    prefix_.clear();
  } else if (version.startsWith(QLatin1Char('6')) || version.startsWith(QLatin1Char('7'))) {
    prefix_ = QStringLiteral("project.");
  } else {
    if (!bSilentMode) {
      ShowMessage(QStringLiteral("Unrecognized project version!"), {}, MsgButtons::Ok,
                  MsgIcon::Critical);
    }
    doc_.reset();
    return false;
  }

  QString failedPart;
  if (!ReadProject(&failedPart)) return fail(failedPart);
  loaded_ = true;
  return true;
}

bool CProjectFile::ReadProject(QString* failedPart) {
  const pugi::xml_node abstract = FindElement("abstract");
  if (!abstract) {
    *failedPart = QStringLiteral("abstract");
    return false;
  }
  title = ChildText(abstract, "title", title);
  Author = ChildText(abstract, "author", Author);
  Manager = ChildText(abstract, "manager", Manager);
  Company = ChildText(abstract, "company", Company);
  Category = ChildText(abstract, "category", Category);
  Keywords = ChildText(abstract, "keywords", Keywords);
  Comments = ChildText(abstract, "comments", Comments);

  pugi::xml_node configure = FindElement("configure");
  if (!configure) {
    *failedPart = QStringLiteral("configure");
    return false;
  }
  Template = ChildText(configure, "template", Template);
  if (const pugi::xml_node photo = configure.child("photo")) {
    PhotoFile = ElementText(photo);
    if (photo.first_attribute()) PhotoSize = Utf8(photo.first_attribute().value());
  }
  if (const pugi::xml_node sound = configure.child("sound")) {
    SoundFile = ElementText(sound);
    if (sound.first_attribute()) SoundVolume = Utf8(sound.first_attribute().value());
  }
  if (const pugi::xml_node showcursor = configure.child("showcursor")) {
    ShowCursor = ElementText(showcursor);
  } else {
    // Projects from recorders that predate the cursor setting get the player script that draws
    // the cursor, and the setting itself on the next save.
    configure.append_child("showcursor");
    if (!CopyCursorScript()) {
      *failedPart = QStringLiteral("configure");
      return false;
    }
  }

  const pugi::xml_node video = FindElement("configure.profile.video");
  if (!video) {
    *failedPart = QStringLiteral("Configure.profile.video");
    return false;
  }
  VideoBitRate = ChildText(video, "bitrate", VideoBitRate).trimmed();
  VideoSize = ChildText(video, "size", VideoSize).trimmed();
  VideoPreview = ChildText(video, "preview", VideoPreview);
  // The player knows two video profiles only; anything else is mapped onto the nearer one, and
  // the size always follows the profile.
  if (VideoBitRate != QLatin1String("96") && VideoBitRate != QLatin1String("192") &&
      !VideoBitRate.isEmpty()) {
    VideoBitRate =
        VideoSize == QLatin1String("240x180") ? QStringLiteral("192") : QStringLiteral("96");
  }
  if (!VideoSize.isEmpty()) {
    if (VideoBitRate == QLatin1String("96")) VideoSize = QStringLiteral("160x120");
    if (VideoBitRate == QLatin1String("192")) VideoSize = QStringLiteral("240x180");
  }

  const pugi::xml_node index = FindElement("index");
  if (!index) {
    *failedPart = QStringLiteral("index");
    return false;
  }
  return ReadIndex(index, failedPart);
}

bool CProjectFile::ReadIndex(pugi::xml_node index, QString* failedPart) {
  const pugi::xml_attribute type = index.attribute("type");
  IndexType = type ? Utf8(type.value()) : QStringLiteral("OL");
  const pugi::xml_attribute durationAttribute = index.attribute("duration");
  bool durationOk = false;
  if (durationAttribute) CTime::GetSecond(Utf8(durationAttribute.value()), &durationOk);
  if (!durationOk) {
    *failedPart = QStringLiteral("index.duration");
    return false;
  }
  durationText_ = Utf8(durationAttribute.value());

  RemoveIndex(kRemoveAll);
  int number = 0;
  int32_t lastPosition = std::numeric_limits<int32_t>::min();
  for (pugi::xml_node item = index.first_child(); item; item = item.next_sibling()) {
    if (item.type() != pugi::node_element) continue;
    ++number;
    const QString part = QStringLiteral("index.item(%1).").arg(number);
    const pugi::xml_node titleNode = item.child("title");
    if (!titleNode) {
      *failedPart = part + QStringLiteral("title");
      return false;
    }
    const pugi::xml_node posNode = item.child("pos");
    int32_t position = 0;
    if (!posNode || !ParsePosition(ElementText(posNode), &position)) {
      *failedPart = part + QStringLiteral("pos");
      return false;
    }
    const bool link = position == -1;
    // Recorded segments come in recording order; link items may stand anywhere.
    if (!link) {
      if (position < lastPosition) {
        *failedPart = part + QStringLiteral("pos");
        return false;
      }
      lastPosition = position;
    }
    const pugi::xml_node dateNode = item.child("recdate");
    if (!dateNode) {
      *failedPart = part + QStringLiteral("recdate");
      return false;
    }
    QString url;
    if (link) {
      const pugi::xml_node urlNode = item.child("url");
      if (!urlNode) {
        *failedPart = part + QStringLiteral("url");
        return false;
      }
      url = ElementText(urlNode);
    }
    AddIndex(ElementText(titleNode), QString::number(position), ElementText(dateNode), url, {}, {},
             false);
  }
  return true;
}

bool CProjectFile::CopyCursorScript() const {
  const QString script = JoinPath(JoinPath(ProgramFolder(), QLatin1String(kCursorScriptFolder)),
                                  QLatin1String(kCursorScript));
  return CopyFileForce(script, JoinPath(projectFolder(), QLatin1String(kCursorScript)));
}

bool CProjectFile::Save(const QString& FileName) {
  saveFailure_ = {};
  const auto fail = [this](const QString& text, bool namesStep) {
    saveFailure_ = namesStep ? Failure{QLatin1String(kSaveTitle), StepErrorText(text)}
                             : Failure{QString(), text};
    return false;
  };
  const QString target = FileName.isEmpty() ? filePath_ : FileName;
  if (!loaded_ || target.isEmpty()) {
    SetRunningStep(QStringLiteral("Save"));
    return fail(QStringLiteral("No project file is loaded"), true);
  }
  SetRunningStep(QStringLiteral("Save values"));
  if (!WriteValues()) {
    return fail(QStringLiteral("The project file has lost its abstract or configure part"), true);
  }
  SetRunningStep(QStringLiteral("Save index"));
  if (!RebuildIndex()) {
    return fail(QStringLiteral("The project file has lost its index part"), true);
  }
  SetRunningStep(QStringLiteral("Save text"));
  bool ok = false;
  const QByteArray bytes = SavedBytes(&ok);
  if (!ok) {
    return fail(QStringLiteral("The project text could not be read back"), true);
  }

  SetRunningStep(QStringLiteral("Save project.kqp.tmp"));
  const QString temporary = target + QStringLiteral(".tmp");
  {
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      return fail(QStringLiteral("Cannot write \"%1\" (%2)").arg(temporary, file.errorString()),
                  true);
    }
    // On disk before it replaces the old file, so a power cut leaves one of the two whole.
    const bool written =
        file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
      const QString reason = file.errorString();
      DeleteFileForce(temporary);
      return fail(QStringLiteral("Cannot write \"%1\" (%2)").arg(temporary, reason), true);
    }
  }

  if (GetFileSize(temporary) < kMinSavedBytes) {
    DeleteFileForce(temporary);
    return fail(QStringLiteral("Save 'project.kqp' error!"), false);
  }
  if (QFileInfo(target).isFile()) QFile::setPermissions(temporary, QFile::permissions(target));
  // One rename replaces the file, so there is no moment without a project file.
  if (std::rename(QFile::encodeName(temporary).constData(),
                  QFile::encodeName(target).constData()) != 0) {
    return fail(QStringLiteral(
                    "Save 'project.kqp' error! The updated project is saved as 'project.kqp.tmp'"),
                false);
  }
  return true;
}

bool CProjectFile::WriteValues() {
  const pugi::xml_node abstract = FindElement("abstract");
  const pugi::xml_node configure = FindElement("configure");
  const pugi::xml_node video = FindElement("configure.profile.video");
  if (!abstract || !configure || !video) return false;

  SetChildText(abstract, "title", StripControlChars(title));
  SetChildText(abstract, "author", StripControlChars(Author));
  SetChildText(abstract, "manager", StripControlChars(Manager));
  SetChildText(abstract, "company", StripControlChars(Company));
  SetChildText(abstract, "category", StripControlChars(Category));
  SetChildText(abstract, "keywords", StripControlChars(Keywords));
  SetChildText(abstract, "comments", StripControlChars(Comments));

  SetChildText(configure, "template", Template);
  // The size and volume are kept in whatever attribute the recorder wrote first; a file without
  // one does not get one.
  const pugi::xml_node photo = SetChildText(configure, "photo", PhotoFile);
  if (photo.first_attribute()) photo.first_attribute().set_value(PhotoSize.toUtf8().constData());
  const pugi::xml_node sound = SetChildText(configure, "sound", SoundFile);
  if (sound.first_attribute()) sound.first_attribute().set_value(SoundVolume.toUtf8().constData());
  SetChildText(configure, "showcursor", ShowCursor);

  SetChildText(video, "bitrate", VideoBitRate);
  SetChildText(video, "size", VideoSize);
  SetChildText(video, "preview", VideoPreview);
  return true;
}

bool CProjectFile::RebuildIndex() {
  pugi::xml_node parent = doc_.document_element();
  if (!prefix_.isEmpty()) parent = parent.child("project");
  const pugi::xml_node old = parent.child("index");
  if (!old) return false;
  parent.remove_child(old);
  pugi::xml_node index = parent.append_child("index");
  index.append_attribute("duration") = durationText_.toUtf8().constData();
  index.append_attribute("type") = IndexType.toUtf8().constData();

  const int32_t limit = duration();
  std::vector<CIndexItem> kept;
  kept.reserve(IndexItem.size());
  for (const CIndexItem& item : IndexItem) {
    int32_t position = 0;
    if (CheckIndexPos && ParsePosition(item.pos, &position) && position >= limit) continue;
    pugi::xml_node element = index.append_child("item");
    SetChildText(element, "title", StripControlChars(item.title));
    SetChildText(element, "recdate", item.RecDate);
    SetChildText(element, "pos", item.pos);
    if (!item.Url.isEmpty()) SetChildText(element, "url", item.Url);
    kept.push_back(item);
  }
  IndexItem = std::move(kept);
  return true;
}

QByteArray CProjectFile::SavedBytes(bool* ok) {
  *ok = false;
  const QByteArray text = WithLineBreaks(XmlText(doc_));
  // Read back so the document in memory is exactly what goes to disk.
  if (!doc_.load_buffer(text.constData(), static_cast<size_t>(text.size()),
                        pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8)) {
    return {};
  }
  if (encoding_ == pugi::encoding_utf8) {
    *ok = true;
    return hadBom_ ? QByteArray("\xEF\xBB\xBF") + text : text;
  }
  // A file stored in another encoding is written back in it; the line breaks are kept as text.
  pugi::xml_document copy;
  if (!copy.load_buffer(text.constData(), static_cast<size_t>(text.size()),
                        pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata,
                        pugi::encoding_utf8)) {
    return {};
  }
  std::ostringstream out;
  unsigned int flags = pugi::format_raw | pugi::format_no_declaration;
  if (hadBom_) flags |= pugi::format_write_bom;
  copy.save(out, "", flags, encoding_);
  const std::string saved = out.str();
  *ok = true;
  return QByteArray(saved.data(), static_cast<qsizetype>(saved.size()));
}

}  // namespace cf
