#include "tools/kqserver/UploadSessions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tools/kqserver/ServerCodes.h"
#include "tools/kqserver/ZipArchiveCheck.h"

namespace kqserver {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxFinished = 1024;
constexpr size_t kMaxSessionIdLength = 40;
constexpr size_t kUrlLength = 3;
constexpr int64_t kMegabyte = 1024 * 1024;
constexpr char kPartSuffix[] = ".part";
constexpr char kRecordSuffix[] = ".session";
constexpr char kRecordHeader[] = "kqsession 1";
constexpr char kFinishedSuffix[] = ".done";
constexpr char kFinishedHeader[] = "kqfinished 1";
constexpr size_t kWriteChunk = 256 * 1024;
// Pieces at least this large skip the write buffer.
constexpr size_t kDirectWrite = 32 * 1024;

// Blocks arrive in small pieces; gathering them lets the disk see large writes. One buffer per
// worker thread is reused by every request it serves, so no request pays for fresh memory.
char* WriteBuffer() {
  thread_local std::vector<char> buffer(kWriteChunk);
  return buffer.data();
}

bool ValidSessionId(const std::string& id) {
  return !id.empty() && id.size() <= kMaxSessionIdLength &&
         std::all_of(id.begin(), id.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
         });
}

// The next block's address: short enough for the uploader's four-character buffer and never
// the same as the address just used, so a block sent to a stale address is noticed.
std::string FreshUrl(const std::string& previous) {
  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string url;
  do {
    url.clear();
    for (size_t i = 0; i < kUrlLength; ++i) url.push_back(kAlphabet[pick(engine)]);
  } while (url == previous);
  return url;
}

// Moves a received archive to its place, replacing the archive there. The old one is moved aside
// first: renaming over an existing file makes ext4 write the whole new file out before the
// rename returns, which would stall the final block's answer by the time it takes to write the
// upload to disk.
bool PlaceArchive(const std::string& received, const fs::path& target) {
  std::error_code error;
  fs::path aside;
  if (fs::exists(target, error)) {
    aside = target;
    aside += ".old";
    fs::remove(aside, error);
    fs::rename(target, aside, error);
    if (error) return false;
  }
  fs::rename(received, target, error);
  if (error) {
    std::error_code ignored;
    if (!aside.empty()) fs::rename(aside, target, ignored);
    return false;
  }
  if (!aside.empty()) fs::remove(aside, error);
  return true;
}

// Texts in a session record are written in hexadecimal, so no value can break its line.
std::string Hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : text) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

bool Unhex(const std::string& hex, std::string* text) {
  if (hex.size() % 2 != 0) return false;
  text->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (const char c : {hex[i], hex[i + 1]}) {
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= c - '0';
      } else if (c >= 'a' && c <= 'f') {
        value |= c - 'a' + 10;
      } else {
        return false;
      }
    }
    text->push_back(static_cast<char>(value));
  }
  return true;
}

bool ToInt(const std::string& digits, int64_t* value) {
  if (digits.empty() || digits.size() > 19) return false;
  const size_t start = digits[0] == '-' ? 1 : 0;
  if (start == digits.size() ||
      digits.find_first_not_of("0123456789", start) != std::string::npos) {
    return false;
  }
  *value = std::stoll(digits);
  return true;
}

int64_t UnixMs(std::chrono::system_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

UploadSessions::Answer Refuse(int code, std::string detail) {
  UploadSessions::Answer answer;
  answer.errInfo = code;
  answer.detail = std::move(detail);
  return answer;
}

}  // namespace

struct UploadSessions::Session {
  std::mutex mutex;
  std::string id;
  std::string account;
  int64_t folderId = 0;
  int64_t contentId = 0;
  std::string partPath;
  int64_t nextSeqno = 0;
  std::string nextUrl;  // the address the next block must come to; empty for the first
  int64_t lastSeqno = -1;
  std::string lastUrl;
  int64_t lastSize = 0;
  std::string lastAnswerUrl;
  uint64_t committed = 0;
  bool closed = false;
  std::chrono::steady_clock::time_point touched = std::chrono::steady_clock::now();
};

// A session that ended with its final block, kept so that a retry of that block (its answer
// got lost) receives the same answer instead of a second copy of the content.
struct UploadSessions::FinishedUpload {
  std::string account;
  int64_t seqno = 0;
  std::string url;
  int64_t size = 0;
  std::string storedPath;  // the archive the final block ended in
  Answer answer;
  // Ended by a cancel or to make room: its blocks hear 1401, but block 0 may start it afresh.
  bool ended = false;
  int64_t finishedMs = 0;  // wall-clock time of the outcome
};

namespace {

// Reads "key value" lines after a header line; false when the header or a line is wrong.
bool ReadRecord(const fs::path& path, const char* header,
                std::map<std::string, std::string>* values) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != header) return false;
  while (std::getline(in, line)) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) return false;
    (*values)[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return true;
}

// Written aside and renamed, so a crash leaves the old record or the new one, never half of
// one. No fsync: the part file is not synced either, and a record that outlived its data after
// a power loss would be worse than none.
bool WriteRecord(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  return !error;
}

}  // namespace

UploadSessions::UploadSessions(KqDatabase* db, std::string dataDir, SessionLimits limits)
    : db_(db), dataDir_(std::move(dataDir)), limits_(limits) {
  std::error_code ignored;
  fs::create_directories(fs::path(dataDir_) / "sessions", ignored);
  fs::create_directories(fs::path(dataDir_) / "finished", ignored);
  LoadSessions();
  LoadFinished();
}

std::string UploadSessions::FinishedPath(const std::string& sessionId) const {
  return (fs::path(dataDir_) / "finished" / (sessionId + kFinishedSuffix)).string();
}

void UploadSessions::SaveFinished(const std::string& sessionId, const FinishedUpload& finished) {
  std::ostringstream record;
  record << kFinishedHeader << "\n"
         << "id " << Hex(sessionId) << "\n"
         << "account " << Hex(finished.account) << "\n"
         << "seqno " << finished.seqno << "\n"
         << "url " << Hex(finished.url) << "\n"
         << "size " << finished.size << "\n"
         << "stored-path " << Hex(finished.storedPath) << "\n"
         << "err-info " << finished.answer.errInfo << "\n"
         << "content-id " << finished.answer.contentId << "\n"
         << "final " << (finished.answer.final ? 1 : 0) << "\n"
         << "detail " << Hex(finished.answer.detail) << "\n"
         << "finished-ms " << finished.finishedMs << "\n";
  // Without the record a lost answer only costs a second upload, as before.
  WriteRecord(FinishedPath(sessionId), record.str());
}

void UploadSessions::LoadFinished() {
  const fs::path folder = fs::path(dataDir_) / "finished";
  const int64_t now = UnixMs(std::chrono::system_clock::now());
  std::error_code error;
  std::vector<std::pair<std::string, std::shared_ptr<FinishedUpload>>> loaded;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  for (const auto& entry : entries) {
    const std::string id = entry.stem().string();
    std::map<std::string, std::string> values;
    auto finished = std::make_shared<FinishedUpload>();
    std::string storedId;
    int64_t errInfo = 0;
    int64_t final = 0;
    const bool sound =
        entry.extension() == kFinishedSuffix && ReadRecord(entry, kFinishedHeader, &values) &&
        Unhex(values["id"], &storedId) && storedId == id && ValidSessionId(id) &&
        Unhex(values["account"], &finished->account) && ToInt(values["seqno"], &finished->seqno) &&
        Unhex(values["url"], &finished->url) && ToInt(values["size"], &finished->size) &&
        Unhex(values["stored-path"], &finished->storedPath) &&
        ToInt(values["err-info"], &errInfo) &&
        ToInt(values["content-id"], &finished->answer.contentId) &&
        ToInt(values["final"], &final) && Unhex(values["detail"], &finished->answer.detail) &&
        ToInt(values["finished-ms"], &finished->finishedMs) &&
        now - finished->finishedMs <= limits_.keepFor.count();
    if (!sound) {
      fs::remove_all(entry, error);
      continue;
    }
    finished->answer.errInfo = static_cast<int>(errInfo);
    finished->answer.final = final != 0;
    loaded.emplace_back(id, std::move(finished));
  }
  std::sort(loaded.begin(), loaded.end(), [](const auto& a, const auto& b) {
    return a.second->finishedMs < b.second->finishedMs;
  });
  std::lock_guard lock(mutex_);
  for (auto& [id, finished] : loaded) Remember(id, std::move(finished));
}

std::string UploadSessions::PartPath(const std::string& sessionId) const {
  return (fs::path(dataDir_) / "sessions" / (sessionId + kPartSuffix)).string();
}

std::string UploadSessions::RecordPath(const std::string& sessionId) const {
  return (fs::path(dataDir_) / "sessions" / (sessionId + kRecordSuffix)).string();
}

bool UploadSessions::SaveSession(const Session& session) {
  // Steady time does not survive a restart, so the record holds the wall-clock time instead.
  const auto idle = std::chrono::steady_clock::now() - session.touched;
  const auto touched = std::chrono::system_clock::now() -
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(idle);
  std::ostringstream record;
  record << kRecordHeader << "\n"
         << "id " << Hex(session.id) << "\n"
         << "account " << Hex(session.account) << "\n"
         << "folder " << session.folderId << "\n"
         << "content " << session.contentId << "\n"
         << "next-seqno " << session.nextSeqno << "\n"
         << "next-url " << Hex(session.nextUrl) << "\n"
         << "last-seqno " << session.lastSeqno << "\n"
         << "last-url " << Hex(session.lastUrl) << "\n"
         << "last-size " << session.lastSize << "\n"
         << "last-answer-url " << Hex(session.lastAnswerUrl) << "\n"
         << "bytes " << session.committed << "\n"
         << "touched-ms " << UnixMs(touched) << "\n";
  return WriteRecord(RecordPath(session.id), record.str());
}

void UploadSessions::LoadSessions() {
  const fs::path folder = fs::path(dataDir_) / "sessions";
  const auto now = std::chrono::system_clock::now();
  const auto steadyNow = std::chrono::steady_clock::now();
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  // Parts are kept only when a sound, unexpired record names them; everything else goes.
  std::vector<fs::path> keep;
  for (const auto& entry : entries) {
    if (entry.extension() != kRecordSuffix) continue;
    const std::string id = entry.stem().string();
    std::map<std::string, std::string> values;
    bool sound = ReadRecord(entry, kRecordHeader, &values);
    auto session = std::make_shared<Session>();
    int64_t bytes = 0;
    int64_t touchedMs = 0;
    std::string storedId;
    sound = sound && Unhex(values["id"], &storedId) && storedId == id && ValidSessionId(id) &&
            Unhex(values["account"], &session->account) &&
            ToInt(values["folder"], &session->folderId) &&
            ToInt(values["content"], &session->contentId) &&
            ToInt(values["next-seqno"], &session->nextSeqno) &&
            Unhex(values["next-url"], &session->nextUrl) &&
            ToInt(values["last-seqno"], &session->lastSeqno) &&
            Unhex(values["last-url"], &session->lastUrl) &&
            ToInt(values["last-size"], &session->lastSize) &&
            Unhex(values["last-answer-url"], &session->lastAnswerUrl) &&
            ToInt(values["bytes"], &bytes) && ToInt(values["touched-ms"], &touchedMs) &&
            bytes >= session->lastSize && session->lastSize >= 0 && session->nextSeqno > 0;
    if (!sound) continue;
    const auto idle =
        std::max(std::chrono::milliseconds(0), std::chrono::milliseconds(UnixMs(now) - touchedMs));
    if (idle > limits_.keepFor) continue;
    // The part holds at least the kept blocks; more when a block was cut off by the end of the
    // last run, and those bytes go so that the block's retry is written in their place.
    session->id = id;
    session->partPath = PartPath(id);
    session->committed = static_cast<uint64_t>(bytes);
    session->touched = steadyNow - idle;
    const auto size = fs::file_size(session->partPath, error);
    if (error || size < session->committed) continue;
    if (size > session->committed) {
      fs::resize_file(session->partPath, session->committed, error);
      if (error) continue;
    }
    sessions_[id] = session;
    keep.push_back(entry);
    keep.emplace_back(session->partPath);
  }
  for (const auto& entry : entries) {
    if (std::find(keep.begin(), keep.end(), entry) == keep.end()) fs::remove_all(entry, error);
  }
}

UploadSessions::~UploadSessions() = default;

std::unique_ptr<UploadSessions::Block> UploadSessions::Begin(const Account& account,
                                                             const Fields& fields,
                                                             const std::string& urlValue,
                                                             Answer* refusal) {
  if (!ValidSessionId(fields.sessionId)) {
    *refusal = Refuse(codes::kBadRequest, "bad sessID");
    return nullptr;
  }
  if (fields.blockSize < 0 || fields.blockSize > kBlockSize ||
      (!fields.final && fields.blockSize != kBlockSize)) {
    *refusal = Refuse(codes::kWrongBlockSize, "blockSize " + std::to_string(fields.blockSize));
    return nullptr;
  }
  std::unique_ptr<Block> block(new Block());
  block->fields_ = fields;
  block->urlValue_ = urlValue;

  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    // Checked on every block, so an expired session is unknown to its next block as it is after
    // a restart, and its data does not wait for a new session to go.
    DropExpired();
    const auto known = sessions_.find(fields.sessionId);
    if (known == sessions_.end()) {
      const auto done = finished_.find(fields.sessionId);
      // Block 0 of an ended session's id starts it afresh, as for an unknown one.
      if (done != finished_.end() && !(done->second->ended && fields.seqno == 0)) {
        const auto& finished = done->second;
        if (finished->ended) {
          *refusal = finished->answer;
          return nullptr;
        }
        if (finished->account == account.name && finished->answer.errInfo != 0) {
          // Every later block of a refused upload, retries included, hears why it ended.
          *refusal = finished->answer;
          refusal->detail = "upload already refused: " + finished->answer.detail;
          return nullptr;
        }
        if (finished->account == account.name && finished->seqno == fields.seqno &&
            finished->url == urlValue) {
          if (fields.blockSize != finished->size) {
            *refusal = Refuse(codes::kRepeatDiffers, "repeat of the final block differs in size");
            return nullptr;
          }
          block->finished_ = finished;
          block->mode_ = Block::Mode::kCompareFinished;
          block->fd_ = ::open(finished->storedPath.c_str(), O_RDONLY | O_CLOEXEC);
          struct stat info {};
          if (block->fd_ < 0 || ::fstat(block->fd_, &info) != 0 || info.st_size < finished->size) {
            *refusal = Refuse(codes::kRepeatDiffers, "the stored archive changed since");
            return nullptr;
          }
          block->offset_ = static_cast<uint64_t>(info.st_size - finished->size);
          return block;
        }
        *refusal = Refuse(codes::kUnknownSession, "session already finished");
        return nullptr;
      }
      if (fields.seqno != 0) {
        // Expired, removed with the data folder, or never started: the uploader has to start
        // over, and hears so in a code of its own.
        *refusal = Refuse(codes::kSessionGone, "no record of this session");
        return nullptr;
      }
      if (!urlValue.empty()) {
        *refusal = Refuse(codes::kWrongBlockAddress, "first block at /" + urlValue + "/");
        return nullptr;
      }
      if (!MakeRoom(account.name, refusal)) return nullptr;
      session = std::make_shared<Session>();
      session->id = fields.sessionId;
      session->account = account.name;
      session->folderId = fields.folderId;
      session->contentId = fields.contentId;
      session->partPath = PartPath(fields.sessionId);
      sessions_[fields.sessionId] = session;
    } else {
      session = known->second;
    }
  }
  block->lock_ = std::unique_lock(session->mutex);
  block->session_ = session;
  if (session->closed) {
    *refusal = Refuse(codes::kUnknownSession, "session was cancelled");
    return nullptr;
  }
  if (session->account != account.name || session->folderId != fields.folderId ||
      session->contentId != fields.contentId) {
    *refusal = Refuse(codes::kUnknownSession, "block belongs to another account or target");
    return nullptr;
  }
  session->touched = std::chrono::steady_clock::now();

  if (fields.seqno == session->nextSeqno) {
    if (urlValue != session->nextUrl) {
      *refusal = Refuse(codes::kWrongBlockAddress,
                        "block " + std::to_string(fields.seqno) + " at /" + urlValue + "/");
      return nullptr;
    }
    if (account.hasQuota) {
      int64_t released = 0;
      if (fields.contentId > 0) {
        const auto previous = db_->FindContent(fields.contentId);
        if (previous && previous->account == account.name) released = previous->size;
      }
      const int64_t total = static_cast<int64_t>(session->committed) + fields.blockSize;
      int code = 0;
      if (total > account.maxsizeMb * kMegabyte) {
        code = codes::kExceedsMaxSize;
      } else if (total - released > account.freeBytes) {
        code = codes::kNoSpace;
      }
      if (code != 0) {
        // The upload can never complete, so its data goes now rather than at expiry.
        Answer answer = Refuse(code, "upload outgrows the quota");
        Forget(session, answer);
        *refusal = answer;
        return nullptr;
      }
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (fields.seqno == 0 ? O_TRUNC : 0);
    block->fd_ = ::open(session->partPath.c_str(), flags, 0600);
    if (block->fd_ < 0) {
      // Nothing more of this upload can be kept; holding on to it would only block others.
      Answer answer = Refuse(codes::kStoreFailed, "cannot write " + session->partPath);
      Forget(session, answer);
      *refusal = answer;
      return nullptr;
    }
    block->mode_ = Block::Mode::kAppend;
    block->offset_ = session->committed;
    return block;
  }
  if (fields.seqno == session->lastSeqno && urlValue == session->lastUrl) {
    if (fields.blockSize != session->lastSize) {
      *refusal = Refuse(codes::kRepeatDiffers,
                        "repeat of block " + std::to_string(fields.seqno) + " differs in size");
      return nullptr;
    }
    block->mode_ = Block::Mode::kCompare;
    block->fd_ = ::open(session->partPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (block->fd_ < 0) {
      *refusal = Refuse(codes::kStoreFailed, "cannot read " + session->partPath);
      return nullptr;
    }
    block->offset_ = session->committed - static_cast<uint64_t>(session->lastSize);
    return block;
  }
  *refusal = Refuse(codes::kBlockOutOfOrder, "block " + std::to_string(fields.seqno) + " at /" +
                                                 urlValue + "/, expected block " +
                                                 std::to_string(session->nextSeqno));
  return nullptr;
}

UploadSessions::Block::~Block() {
  if (fd_ >= 0) {
    // A block that was not kept must not leave bytes behind for its retry to trip over.
    if (mode_ == Mode::kAppend && !committed_ &&
        ::ftruncate(fd_, static_cast<off_t>(offset_)) != 0) {
      // The next block is written at the kept length anyway.
    }
    ::close(fd_);
  }
}

bool UploadSessions::Block::WriteAt(const char* data, size_t size, uint64_t at) {
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(at + done));
    if (wrote <= 0) {
      errInfo_ = codes::kStoreFailed;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

bool UploadSessions::Block::Flush() {
  const uint64_t at = offset_ + static_cast<uint64_t>(received_) - pending_;
  if (!WriteAt(WriteBuffer(), pending_, at)) return false;
  pending_ = 0;
  return true;
}

bool UploadSessions::Block::Write(const char* data, size_t size) {
  if (errInfo_ != 0) return false;
  if (received_ + static_cast<int64_t>(size) > fields_.blockSize) {
    errInfo_ = codes::kWrongBlockSize;
    return false;
  }
  if (mode_ == Mode::kAppend) {
    if (size >= kDirectWrite) {
      // Already large: straight to the file, without a pass through the buffer.
      if (pending_ != 0 && !Flush()) return false;
      if (!WriteAt(data, size, offset_ + static_cast<uint64_t>(received_))) return false;
      received_ += static_cast<int64_t>(size);
      return true;
    }
    while (size > 0) {
      const size_t take = std::min(size, kWriteChunk - pending_);
      std::memcpy(WriteBuffer() + pending_, data, take);
      pending_ += take;
      received_ += static_cast<int64_t>(take);
      data += take;
      size -= take;
      if (pending_ == kWriteChunk && !Flush()) return false;
    }
    return true;
  }
  if (!differs_) {
    compareBuffer_.resize(size);
    size_t done = 0;
    const uint64_t at = offset_ + static_cast<uint64_t>(received_);
    while (done < size) {
      const ssize_t got =
          ::pread(fd_, compareBuffer_.data() + done, size - done, static_cast<off_t>(at + done));
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    differs_ = done != size || std::memcmp(compareBuffer_.data(), data, size) != 0;
  }
  received_ += static_cast<int64_t>(size);
  return true;
}

UploadSessions::Answer UploadSessions::Commit(Block* block) {
  Answer answer = CommitBlock(block);
  if (!block->session_) return answer;  // a repeat of a final block
  block->session_->touched = std::chrono::steady_clock::now();
  if (answer.errInfo == codes::kStoreFailed && block->mode_ == Block::Mode::kAppend &&
      !block->session_->closed) {
    // A full or failing disk: the upload cannot go on, so its part goes now, not at expiry.
    Forget(block->session_, answer);
  }
  return answer;
}

UploadSessions::Answer UploadSessions::CommitBlock(Block* block) {
  const std::string seq = "block " + std::to_string(block->fields_.seqno);
  if (block->errInfo_ != 0) return Refuse(block->errInfo_, seq + " could not be taken");
  if (block->received_ != block->fields_.blockSize) {
    return Refuse(codes::kWrongBlockSize, seq + " carries " + std::to_string(block->received_) +
                                              " bytes, blockSize says " +
                                              std::to_string(block->fields_.blockSize));
  }
  if (block->mode_ == Block::Mode::kAppend && !block->Flush()) {
    return Refuse(block->errInfo_, seq + " could not be written");
  }
  if (block->mode_ == Block::Mode::kCompareFinished) {
    if (block->differs_) {
      return Refuse(codes::kRepeatDiffers, "repeat of the final block differs");
    }
    Answer answer = block->finished_->answer;
    answer.detail = "repeat of the final block, answered again";
    return answer;
  }
  Session& session = *block->session_;
  if (block->mode_ == Block::Mode::kCompare) {
    if (block->differs_) {
      return Refuse(codes::kRepeatDiffers, "repeat of " + seq + " differs");
    }
    Answer answer;
    answer.url = session.lastAnswerUrl;
    answer.detail = "repeat of " + seq + ", answered again";
    return answer;
  }
  block->committed_ = true;
  session.committed += static_cast<uint64_t>(block->received_);
  session.lastSeqno = block->fields_.seqno;
  session.lastUrl = block->urlValue_;
  session.lastSize = block->received_;
  session.nextSeqno = block->fields_.seqno + 1;
  if (!block->fields_.final) {
    session.nextUrl = FreshUrl(block->urlValue_);
    session.lastAnswerUrl = session.nextUrl;
    session.touched = std::chrono::steady_clock::now();
    // Recorded before the answer goes out: an uploader holding this address must find the
    // session again after a restart.
    if (!SaveSession(session)) {
      return Refuse(codes::kStoreFailed, "cannot write the record of session " + session.id);
    }
    Answer answer;
    answer.url = session.nextUrl;
    answer.detail = seq + " kept, " + std::to_string(session.committed) + " bytes so far";
    return answer;
  }
  return Finish(block);
}

UploadSessions::Answer UploadSessions::Finish(Block* block) {
  Session& session = *block->session_;
  ::close(block->fd_);
  block->fd_ = -1;
  const std::shared_ptr<Session> keep = block->session_;
  std::string problem;
  if (checkArchive_ && !ZipArchiveCheck::Check(session.partPath, &problem)) {
    Answer answer = Refuse(codes::kNotAZip, problem);
    Forget(keep, answer);
    return answer;
  }
  std::string storedPath;
  const StoreOutcome outcome =
      db_->StoreUpload(session.account, session.folderId, session.contentId,
                       static_cast<int64_t>(session.committed), [&](const std::string& relative) {
                         const fs::path target = fs::path(dataDir_) / relative;
                         storedPath = target.string();
                         std::error_code error;
                         fs::create_directories(target.parent_path(), error);
                         if (error) return false;
                         return PlaceArchive(session.partPath, target);
                       });
  Answer answer;
  answer.final = true;
  if (outcome.errInfo != 0) {
    answer = Refuse(outcome.errInfo, "final block refused");
  } else {
    answer.contentId = outcome.contentId;
    answer.detail = std::string(outcome.replaced ? "replaced" : "stored") + " content " +
                    std::to_string(outcome.contentId) + ", " + std::to_string(session.committed) +
                    " bytes";
  }
  answer.final = true;
  Forget(keep, answer, storedPath);
  return answer;
}

void UploadSessions::Forget(const std::shared_ptr<Session>& session, const Answer& answer,
                            const std::string& storedPath) {
  session->closed = true;
  std::error_code ignored;
  fs::remove(RecordPath(session->id), ignored);
  fs::remove(session->partPath, ignored);
  std::lock_guard lock(mutex_);
  sessions_.erase(session->id);
  if (!answer.final && answer.errInfo == 0) return;
  auto finished = std::make_shared<FinishedUpload>();
  finished->account = session->account;
  finished->seqno = session->lastSeqno;
  finished->url = session->lastUrl;
  finished->size = session->lastSize;
  finished->storedPath = storedPath;
  finished->answer = answer;
  finished->finishedMs = UnixMs(std::chrono::system_clock::now());
  SaveFinished(session->id, *finished);
  Remember(session->id, std::move(finished));
}

void UploadSessions::Remember(const std::string& sessionId,
                              std::shared_ptr<FinishedUpload> finished) {
  if (finished_.insert_or_assign(sessionId, std::move(finished)).second) {
    finishedOrder_.push_back(sessionId);
  }
  while (finishedOrder_.size() > kMaxFinished) {
    std::error_code ignored;
    fs::remove(FinishedPath(finishedOrder_.front()), ignored);
    finished_.erase(finishedOrder_.front());
    finishedOrder_.pop_front();
  }
}

bool UploadSessions::Cancel(const std::string& sessionId) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    const auto known = sessions_.find(sessionId);
    if (known == sessions_.end()) return false;
    session = known->second;
    sessions_.erase(known);
    RememberEnded(*session, "session was cancelled");
  }
  // Waits for a block of this session that is still being written.
  std::lock_guard lock(session->mutex);
  session->closed = true;
  std::error_code ignored;
  fs::remove(RecordPath(session->id), ignored);
  fs::remove(session->partPath, ignored);
  return true;
}

void UploadSessions::DropExpired() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    const std::shared_ptr<Session> session = it->second;  // outlives the lock below
    std::unique_lock lock(session->mutex, std::try_to_lock);
    if (lock.owns_lock() && now - session->touched > limits_.keepFor) {
      EndLocked(it++);
    } else {
      ++it;
    }
  }
}

void UploadSessions::EndLocked(std::map<std::string, std::shared_ptr<Session>>::iterator it) {
  it->second->closed = true;
  std::error_code ignored;
  fs::remove(RecordPath(it->first), ignored);
  fs::remove(it->second->partPath, ignored);
  sessions_.erase(it);
}

void UploadSessions::RememberEnded(const Session& session, const std::string& why) {
  auto ended = std::make_shared<FinishedUpload>();
  ended->account = session.account;
  ended->ended = true;
  ended->answer = Refuse(codes::kUnknownSession, why);
  // An earlier outcome under this id no longer stands.
  std::error_code ignored;
  fs::remove(FinishedPath(session.id), ignored);
  Remember(session.id, std::move(ended));
}

bool UploadSessions::MakeRoom(const std::string& account, Answer* refusal) {
  size_t own = 0;
  for (const auto& [id, session] : sessions_) {
    if (session->account == account) ++own;
  }
  const bool accountFull = own >= limits_.perAccount;
  if (!accountFull && sessions_.size() < limits_.total) return true;
  // The oldest stale session gives way: the account's own when the account is at its limit,
  // otherwise anyone's. A session with a block in flight (its lock taken) is never stale.
  const auto now = std::chrono::steady_clock::now();
  auto oldest = sessions_.end();
  std::shared_ptr<Session> oldestSession;  // outlives oldestLock
  std::unique_lock<std::mutex> oldestLock;
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (accountFull && it->second->account != account) continue;
    std::unique_lock lock(it->second->mutex, std::try_to_lock);
    if (!lock.owns_lock() || now - it->second->touched < limits_.staleAfter) continue;
    if (oldestSession && it->second->touched >= oldestSession->touched) continue;
    oldest = it;
    oldestSession = it->second;
    oldestLock = std::move(lock);
  }
  if (oldest == sessions_.end()) {
    *refusal = Refuse(codes::kTooManySessions, accountFull ? "too many open sessions of " + account
                                                           : std::string("too many open sessions"));
    return false;
  }
  RememberEnded(*oldestSession, "session ended to make room for another");
  EndLocked(oldest);
  return true;
}

std::vector<UploadSessions::SessionInfo> UploadSessions::List() {
  std::lock_guard lock(mutex_);
  std::vector<SessionInfo> list;
  for (const auto& [id, session] : sessions_) {
    std::unique_lock sessionLock(session->mutex, std::try_to_lock);
    list.push_back({id, session->account, sessionLock.owns_lock() ? session->nextSeqno : -1,
                    sessionLock.owns_lock() ? session->committed : 0});
  }
  return list;
}

}  // namespace kqserver
