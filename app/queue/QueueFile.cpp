#include "app/queue/QueueFile.h"

#include "app/queue/QueueFileFields.h"
#include "app/queue/UploadQueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <pugixml.hpp>

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <string_view>

namespace cf {
namespace {

using queuefile::ReadJob;
using queuefile::TextPool;

// A queue file larger than this is not something the program wrote; it is left alone rather than
// read into memory. Ten thousand jobs take about 12 MB.
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;

// Loading a file larger than this (some 30,000 jobs) gives the parser's memory back to the
// system afterwards; for smaller ones the cost of doing so outweighs what it saves.
constexpr qint64 kTrimAfterBytes = 32 * 1024 * 1024;

constexpr char kRootElement[] = "clipferry";
constexpr char kQueueElement[] = "queue";
constexpr char kFileElement[] = "file";

// ---- writing -------------------------------------------------------------------------------
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

// Writes beside the target and renames over it, so that a crash or a full disk leaves either the
// old file or the new one, never a torn one that the next start would throw away whole.
bool ReplaceFile(const QString& filePath, const QByteArray& content) {
  const QByteArray target = QFile::encodeName(filePath);
  QByteArray temporary = target + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // created 0600
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  ok = ok && WriteAll(fd, content.constData(), static_cast<size_t>(content.size()));
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
  if (!ok) {
    ::unlink(temporary.constData());
    return false;
  }
  // Make the rename itself durable; failing to do so does not undo the save.
  const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
  const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return true;
}

// Whether the bytes between two '<' ... '>' spans are the same once every '/' is left out.
bool SameTagText(const char* a, const char* aEnd, const char* b, const char* bEnd) {
  for (;;) {
    while (a != aEnd && *a == '/') ++a;
    while (b != bEnd && *b == '/') ++b;
    if (a == aEnd || b == bEnd) return a == aEnd && b == bEnd;
    if (*a != *b) return false;
    ++a;
    ++b;
  }
}

enum class Parsed { Queue, NotQueue, NotXml };

// Keeps a field made only of blanks, while the line breaks between elements still vanish. Line
// ends inside a field are kept as written: the writer does not escape a carriage return, so
// folding it into a line feed here would change a title on every round trip.
constexpr unsigned kParseOptions =
    (pugi::parse_default | pugi::parse_ws_pcdata_single) & ~pugi::parse_eol;

// ---- a document in the program's own layout, one job at a time ---------------------------
//
// A whole DOM of a long queue costs several times the queue itself. When the text has exactly
// the shape the program writes (declaration, root, queue, file elements, blanks between), each
// file element is parsed on its own. Anything else, or a file element that does not parse alone
// (a "</file>" inside a comment or CDATA cuts it short), goes to the whole-document parse,
// which decides.
class ShapeReader {
 public:
  explicit ShapeReader(const QByteArray& text)
      : m_at(text.constData()), m_end(text.constData() + text.size()) {}

  bool Take(std::string_view token) {
    SkipBlanks();
    if (static_cast<size_t>(m_end - m_at) < token.size()) return false;
    if (std::string_view(m_at, token.size()) != token) return false;
    m_at += token.size();
    return true;
  }
  // Skips the declaration the program writes; any other (one naming an encoding, say) is left
  // to the whole-document parse.
  bool SkipDeclaration() {
    if (Take("<?xml version=\"1.0\"?>")) return true;
    return !Take("<?");
  }
  // The start tag of the root, whatever its attributes.
  bool TakeRootStart() {
    if (!Take("<clipferry")) return false;
    if (m_at == m_end || (*m_at != ' ' && *m_at != '>')) return false;
    return SkipPast(">");
  }
  // The next "<file>...</file>", without the blanks before it; empty when none comes next.
  std::string_view TakeFileElement() {
    SkipBlanks();
    const char* start = m_at;
    if (!Take("<file>")) return {};
    if (!SkipPast("</file>")) return {};
    return std::string_view(start, static_cast<size_t>(m_at - start));
  }
  bool AtEnd() {
    SkipBlanks();
    return m_at == m_end;
  }

 private:
  void SkipBlanks() {
    while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\n'))
      ++m_at;
  }
  bool SkipPast(std::string_view token) {
    const std::string_view rest(m_at, static_cast<size_t>(m_end - m_at));
    const size_t found = rest.find(token);
    if (found == std::string_view::npos) return false;
    m_at += found + token.size();
    return true;
  }

  const char* m_at;
  const char* m_end;
};

bool ParseByJob(const QByteArray& text, std::vector<std::unique_ptr<UploadJob>>& jobs,
                TextPool& pool) {
  ShapeReader reader(text);
  if (!reader.SkipDeclaration() || !reader.TakeRootStart() || !reader.Take("<queue>")) {
    return false;
  }
  pugi::xml_document element;
  for (;;) {
    const std::string_view chunk = reader.TakeFileElement();
    if (chunk.empty()) break;
    if (!element.load_buffer(chunk.data(), chunk.size(), kParseOptions, pugi::encoding_utf8)) {
      return false;
    }
    const pugi::xml_node fileNode = element.first_child();
    if (fileNode.next_sibling() || std::string_view(fileNode.name()) != kFileElement) {
      return false;
    }
    jobs.push_back(ReadJob(fileNode, pool));
  }
  return reader.Take("</queue>") && reader.Take("</clipferry>") && reader.AtEnd();
}

Parsed ParseInto(QByteArray& text, UploadQueue& queue) {
  std::vector<std::unique_ptr<UploadJob>> jobs;
  {
    TextPool pool;
    if (ParseByJob(text, jobs, pool)) {
      queue.AddSaved(std::move(jobs));
      return Parsed::Queue;
    }
  }
  jobs.clear();
  pugi::xml_document document;
  // Parsed in place: the file's text is not needed afterwards, and a copy of a large queue would
  // double what loading costs.
  const pugi::xml_parse_result parsed = document.load_buffer_inplace(
      text.data(), static_cast<size_t>(text.size()), kParseOptions, pugi::encoding_auto);
  if (!parsed) return Parsed::NotXml;
  const pugi::xml_node queueNode = document.child(kRootElement).child(kQueueElement);
  if (!queueNode) return Parsed::NotQueue;
  TextPool pool;
  for (const pugi::xml_node fileNode : queueNode.children(kFileElement)) {
    jobs.push_back(ReadJob(fileNode, pool));
  }
  queue.AddSaved(std::move(jobs));
  return Parsed::Queue;
}

// Renames a damaged queue file beside itself; the new path, or empty when that failed.
QString SetAside(const QString& filePath) {
  const QString stem = filePath + QStringLiteral(".bad-") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  for (int attempt = 1; attempt < 100; ++attempt) {
    const QString candidate =
        attempt == 1 ? stem : stem + QLatin1Char('-') + QString::number(attempt);
    if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink()) continue;
    return QFile::rename(filePath, candidate) ? candidate : QString();
  }
  return {};
}

}  // namespace

QString QueueFile::PathIn(const QString& programFolder) {
  return QDir(programFolder).filePath(QLatin1String(kFileName));
}

QueueFile::LoadResult QueueFile::Load(const QString& filePath, UploadQueue& queue,
                                      QString* asidePath) {
  const QFileInfo info(filePath);
  if (!info.exists()) return LoadResult::Missing;
  // Only a file whose content was actually read and found wanting is moved or deleted; a folder
  // in the way, a permission problem or a read error must not cost the user the queue.
  if (!info.isFile() || info.size() > kMaxFileBytes) return LoadResult::Unreadable;
  QFile file(filePath);
  if (!file.open(QIODevice::ReadOnly)) return LoadResult::Unreadable;
  QByteArray text = file.readAll();
  const bool readFailed = file.error() != QFileDevice::NoError || text.size() > kMaxFileBytes;
  file.close();
  if (readFailed) return LoadResult::Unreadable;
  const Parsed parsed = ParseInto(text, queue);
  text.clear();
  text.squeeze();
#if defined(__GLIBC__)
  // The parser's many small blocks lie between the jobs on the heap; once freed they stay
  // resident unless handed back, which for a long queue is several times the queue itself.
  if (info.size() > kTrimAfterBytes) ::malloc_trim(0);
#endif
  switch (parsed) {
    case Parsed::Queue:
      return LoadResult::Loaded;
    case Parsed::NotQueue:
      QFile::remove(filePath);
      return LoadResult::Discarded;
    case Parsed::NotXml:
      break;
  }
  const QString aside = SetAside(filePath);
  if (aside.isEmpty()) return LoadResult::Unreadable;
  if (asidePath != nullptr) *asidePath = aside;
  return LoadResult::SetAside;
}

bool QueueFile::Parse(const QByteArray& text, UploadQueue& queue) {
  QByteArray copy = text;
  return ParseInto(copy, queue) == Parsed::Queue;
}

QByteArray QueueFile::Serialize(const UploadQueue& queue, int* written) {
  // Written directly in the layout that the empty document, standard escaping and BreakLines
  // give: the file is rewritten after every change, and building a DOM for it each time costs
  // more than the rest of the save.
  QByteArray out;
  out.reserve(256 + static_cast<qsizetype>(queue.Count()) * 1280);
  out.append("<?xml version=\"1.0\"?>\r\n<clipferry ver=\"2.120222\">\r\n<queue>");
  int count = 0;
  for (int index = 1; index <= queue.Count(); ++index) {
    const UploadJob* job = queue.item(index);
    if (job->live == JobState::Finished) continue;
    out.append("\r\n<file>");
    for (int field = 0; field < queuefile::kFieldCount; ++field) {
      const char* name = queuefile::FieldName(field);
      out.append("\r\n<").append(name).append('>');
      queuefile::AppendFieldText(out, field, *job);
      out.append("</").append(name).append('>');
    }
    queuefile::AppendLiveState(out, *job);
    out.append("\r\n</file>");
    ++count;
  }
  out.append(count > 0 ? "\r\n</queue>\r\n</clipferry>" : "</queue>\r\n</clipferry>");
  if (written != nullptr) *written = count;
  return out;
}

bool QueueFile::Save(const QString& filePath, const UploadQueue& queue, int* written) {
  int count = 0;
  const QByteArray content = Serialize(queue, &count);
  if (written != nullptr) *written = count;
  if (count == 0) {
    const QFileInfo info(filePath);
    if (!info.exists() && !info.isSymLink()) return true;
    return QFile::remove(filePath);
  }
  return ReplaceFile(filePath, content);
}

QByteArray QueueFile::BreakLines(const QByteArray& xml) {
  QByteArray out;
  out.reserve(xml.size() + xml.size() / 8);
  const char* const begin = xml.constData();
  const char* const end = begin + xml.size();
  const char* copiedUpTo = begin;
  const char* tagStart = begin;  // just past the '<' of the tag being walked
  for (const char* at = begin; at != end; ++at) {
    if (*at == '<') {
      tagStart = at + 1;
      continue;
    }
    if (*at != '>' || at + 1 == end || at[1] != '<') continue;
    const char* next = at + 2;
    const char* nextEnd = next;
    while (nextEnd != end && *nextEnd != '>') ++nextEnd;
    const bool endTag = next != end && *next == '/';
    // An element's start tag and its own end tag stay together: "<title></title>".
    if (endTag && SameTagText(tagStart, at, next, nextEnd)) continue;
    out.append(copiedUpTo, at + 1 - copiedUpTo);
    out.append("\r\n", 2);
    copiedUpTo = at + 1;
  }
  out.append(copiedUpTo, end - copiedUpTo);
  return out;
}

}  // namespace cf
