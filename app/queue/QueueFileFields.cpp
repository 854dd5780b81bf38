#include "app/queue/QueueFileFields.h"

#include <pugixml.hpp>

#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <variant>

namespace cf::queuefile {
namespace {

// ---- reading field texts -------------------------------------------------------------------

// Plain digits, as the program writes them, are read without building a string; anything else
// takes the general route, which decides.
std::optional<int64_t> PlainNumber(const char* text) {
  const char* digits = text[0] == '-' ? text + 1 : text;
  size_t length = 0;
  while (digits[length] >= '0' && digits[length] <= '9') ++length;
  if (length == 0 || length > 9 || digits[length] != '\0') return std::nullopt;
  int64_t value = 0;
  for (size_t i = 0; i < length; ++i) value = value * 10 + (digits[i] - '0');
  return text[0] == '-' ? -value : value;
}

int32_t ToInt32(const char* text) {
  if (const std::optional<int64_t> plain = PlainNumber(text)) return static_cast<int32_t>(*plain);
  bool ok = false;
  const int value = QString::fromUtf8(text).trimmed().toInt(&ok, 10);
  return ok ? value : 0;
}

int64_t ToInt64(const char* text) {
  if (const std::optional<int64_t> plain = PlainNumber(text)) return *plain;
  bool ok = false;
  const qlonglong value = QString::fromUtf8(text).trimmed().toLongLong(&ok, 10);
  return ok ? value : 0;
}

// "True" and "False" in any letter case, or an integer that is true when not zero.
bool ToBool(const char* text) {
  const QString trimmed = QString::fromUtf8(text).trimmed();
  if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
  bool ok = false;
  const qlonglong value = trimmed.toLongLong(&ok, 10);
  return ok && value != 0;
}

const char* BoolText(bool value) { return value ? "True" : "False"; }

// ---- the fields of a job in file order -----------------------------------------------------

// One field element: its name and the job field it holds.
struct Field {
  const char* name;
  std::variant<QString UploadJob::*, int32_t UploadJob::*, int64_t UploadJob::*, bool UploadJob::*>
      member;
  // Texts that many jobs tend to share (server, account, folder, settings) are read once and
  // shared; the ones that differ from job to job are not worth looking up.
  bool shared = true;
};

const Field kFields[] = {
    {"fileName", &UploadJob::fileName, false},
    {"title", &UploadJob::title, false},
    {"Author", &UploadJob::Author},
    {"state", &UploadJob::state},
    {"path", &UploadJob::path, false},
    {"duration", &UploadJob::duration},
    {"secDuration", &UploadJob::secDuration},
    {"videoWidth", &UploadJob::videoWidth},
    {"videoHeight", &UploadJob::videoHeight},
    {"vBitRate", &UploadJob::vBitRate},
    {"aBitRate", &UploadJob::aBitRate},
    {"Url", &UploadJob::Url},
    {"account", &UploadJob::account},
    {"password", &UploadJob::password},
    {"folderID", &UploadJob::folderID},
    {"contentID", &UploadJob::contentID},
    {"folderName", &UploadJob::folderName},
    {"sysVer", &UploadJob::sysVer},
    {"bEncPassword", &UploadJob::bEncPassword},
    {"dstCvtType", &UploadJob::dstCvtType},
    {"dstResType", &UploadJob::dstResType},
    {"dstPostfix", &UploadJob::dstPostfix},
    {"srcVideoWidth", &UploadJob::srcVideoWidth},
    {"srcVideoHeight", &UploadJob::srcVideoHeight},
    {"customBps", &UploadJob::customBps},
    {"bInterlaced", &UploadJob::bInterlaced},
    {"fileSize", &UploadJob::fileSize},
    {"dateLastModified", &UploadJob::dateLastModified},
};

void ReadField(const Field& field, UploadJob& job, const char* text, TextPool& pool) {
  std::visit(
      [&](auto member) {
        using Value = std::remove_reference_t<decltype(job.*member)>;
        if constexpr (std::is_same_v<Value, QString>) {
          job.*member = field.shared ? pool.Get(text) : QString::fromUtf8(text);
        } else if constexpr (std::is_same_v<Value, bool>) {
          job.*member = ToBool(text);
        } else if constexpr (std::is_same_v<Value, int32_t>) {
          job.*member = ToInt32(text);
        } else {
          job.*member = ToInt64(text);
        }
      },
      field.member);
}

QByteArray WriteField(const Field& field, const UploadJob& job) {
  return std::visit(
      [&](auto member) {
        const auto& value = job.*member;
        using Value = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, QString>) {
          return value.toUtf8();
        } else if constexpr (std::is_same_v<Value, bool>) {
          return QByteArray(BoolText(value));
        } else {
          return QByteArray::number(value);
        }
      },
      field.member);
}

static_assert(std::size(kFields) == 28, "a queued job is stored as 28 field elements");

// Field position by element name.
const std::unordered_map<std::string_view, size_t>& FieldIndex() {
  static const std::unordered_map<std::string_view, size_t> index = [] {
    std::unordered_map<std::string_view, size_t> byName;
    for (size_t i = 0; i < std::size(kFields); ++i) byName.emplace(kFields[i].name, i);
    return byName;
  }();
  return index;
}

// Text content as an XML writer escapes it: markup characters by name, control characters other
// than tab and line ends by number ("&#07;"). A value ends at its first NUL, which text cannot
// hold.
void AppendEscaped(QByteArray& out, const QByteArray& value) {
  const char* run = value.constData();
  const char* const end = run + value.size();
  for (const char* at = run; at != end; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    const bool plain = byte >= 32 ? (byte != '&' && byte != '<' && byte != '>')
                                  : (byte == '\t' || byte == '\n' || byte == '\r');
    if (plain) continue;
    out.append(run, at - run);
    run = at + 1;
    switch (byte) {
      case 0:
        return;
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      default:
        // Always two digits, as the writer the file format came from puts them.
        out.append("&#").append(char('0' + byte / 10)).append(char('0' + byte % 10)).append(';');
    }
  }
  out.append(run, end - run);
}

constexpr char kLiveStateElement[] = "liveState";
constexpr char kErrorTextElement[] = "errorText";

}  // namespace

void AppendLiveState(QByteArray& out, const UploadJob& job) {
  if (job.live != JobState::Failed) return;
  out.append("\r\n<").append(kLiveStateElement).append('>');
  out.append(StateText(job.live).data(), StateText(job.live).size());
  out.append("</").append(kLiveStateElement).append(">\r\n<").append(kErrorTextElement);
  out.append('>');
  AppendEscaped(out, job.errorText.toUtf8());
  out.append("</").append(kErrorTextElement).append('>');
}

const char* FieldName(int index) { return kFields[index].name; }

void AppendFieldText(QByteArray& out, int index, const UploadJob& job) {
  AppendEscaped(out, WriteField(kFields[index], job));
}

QString TextPool::Get(const char* utf8) {
  if (*utf8 == '\0') return QString();
  const QByteArray bytes = QByteArray::fromRawData(utf8, qstrlen(utf8));
  const auto found = m_texts.constFind(bytes);
  if (found != m_texts.constEnd()) return found.value();
  const QString text = QString::fromUtf8(bytes);
  m_texts.insert(QByteArray(bytes.constData(), bytes.size()), text);
  return text;
}

std::unique_ptr<UploadJob> ReadJob(const pugi::xml_node& fileNode, TextPool& pool) {
  std::array<const char*, std::size(kFields)> texts{};
  size_t expected = 0;  // the program writes the fields in order; others are looked up
  const char* liveState = nullptr;
  const char* errorText = nullptr;
  for (const pugi::xml_node child : fileNode.children()) {
    if (std::strcmp(child.name(), kLiveStateElement) == 0) {
      if (liveState == nullptr) liveState = child.text().get();
      continue;
    }
    if (std::strcmp(child.name(), kErrorTextElement) == 0) {
      if (errorText == nullptr) errorText = child.text().get();
      continue;
    }
    size_t index = std::size(kFields);
    if (expected < std::size(kFields) && std::strcmp(child.name(), kFields[expected].name) == 0) {
      index = expected;
    } else if (const auto found = FieldIndex().find(std::string_view(child.name()));
               found != FieldIndex().end()) {
      index = found->second;
    }
    if (index == std::size(kFields)) continue;
    expected = index + 1;
    if (texts[index] == nullptr) texts[index] = child.text().get();
  }
  auto job = std::make_unique<UploadJob>();
  for (size_t i = 0; i < texts.size(); ++i) {
    ReadField(kFields[i], *job, texts[i] ? texts[i] : "", pool);
  }
  job->state.clear();
  // Only a failure is carried over; a job that was running when the program went comes back
  // waiting, whatever a file says.
  if (liveState != nullptr && StateFromText(QString::fromUtf8(liveState)) == JobState::Failed) {
    job->live = JobState::Failed;
    job->errorText = QString::fromUtf8(errorText != nullptr ? errorText : "");
  }
  return job;
}

}  // namespace cf::queuefile
