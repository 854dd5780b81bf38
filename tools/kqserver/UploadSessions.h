#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/kqserver/KqDatabase.h"

namespace kqserver {

// Bytes in every block of an upload but the last; the uploader fixes this size.
constexpr int64_t kBlockSize = 524288;

// How many uploads may be open, and when an idle one may give way to a new one.
struct SessionLimits {
  size_t total = 256;
  size_t perAccount = 16;
  // A session without a block in flight for this long is stale: a new session of the same
  // account ends it when the account is at its limit, any new session when all are taken.
  std::chrono::milliseconds staleAfter{60000};
  // A session without a kept block for this long is forgotten with its data, also across a
  // restart; an uploader that lost its connection or crashed may resume it until then.
  std::chrono::milliseconds keepFor{std::chrono::hours(24)};
};

// Reassembles block uploads. Each session (the uploader's sessID) is written to one file in the
// data folder as its blocks arrive, in order; a block only counts once its request ended
// properly, so a block cut off halfway leaves no trace and its retry starts clean. The final
// block turns the file into stored content. Beside each part file a small record of the session
// lets a restarted server take up the uploads that were under way.
class UploadSessions {
 public:
  struct Fields {
    int64_t folderId = 0;
    int64_t contentId = 0;
    std::string sessionId;
    int64_t seqno = 0;
    bool final = false;
    int64_t blockSize = 0;
  };

  // What a block request is answered with: errInfo, or the next block's address, or the content.
  struct Answer {
    int errInfo = 0;
    std::string url;
    int64_t contentId = 0;
    bool final = false;
    std::string detail;  // for the request log
  };

  struct SessionInfo {
    std::string id;
    std::string account;
    int64_t nextSeqno = 0;
    uint64_t bytes = 0;
  };

  class Block;

  UploadSessions(KqDatabase* db, std::string dataDir, SessionLimits limits = {});
  ~UploadSessions();

  // Starts taking one block. On refusal returns null and fills `refusal`; the request's file
  // data is then to be read and dropped.
  std::unique_ptr<Block> Begin(const Account& account, const Fields& fields,
                               const std::string& urlValue, Answer* refusal);
  // Keeps the block once its whole request has arrived and answers it.
  Answer Commit(Block* block);
  // Forgets a session and its data; true when there was one.
  bool Cancel(const std::string& sessionId);

  std::vector<SessionInfo> List();
  void SetCheckArchive(bool on) { checkArchive_ = on; }
  bool CheckArchive() const { return checkArchive_; }

 private:
  struct Session;
  struct FinishedUpload;

  Answer CommitBlock(Block* block);
  Answer Finish(Block* block);
  void Forget(const std::shared_ptr<Session>& session, const Answer& answer,
              const std::string& storedPath = {});
  void DropExpired();
  // Takes up the sessions an earlier run left in the data folder; drops expired or broken ones.
  void LoadSessions();
  // Writes the session's record (session lock held); false when it could not be written.
  bool SaveSession(const Session& session);
  // Remembers that a session was ended by a cancel or to make room, so its later blocks hear
  // that it ended rather than that it is unknown. Called with mutex_ held.
  void RememberEnded(const Session& session, const std::string& why);
  // Keeps an upload's outcome for the retries of its last block, the oldest going beyond
  // kMaxFinished. Called with mutex_ held.
  void Remember(const std::string& sessionId, std::shared_ptr<FinishedUpload> finished);
  // The outcomes of finished uploads are kept on disk too: a final block whose answer was lost
  // to a restart must not store its content a second time.
  void SaveFinished(const std::string& sessionId, const FinishedUpload& finished);
  void LoadFinished();
  // Makes room for a new session of `account`; false (with the refusal) when there is none.
  // Called with mutex_ held.
  bool MakeRoom(const std::string& account, Answer* refusal);
  // Ends a session (mutex_ held, the session's own lock taken) and removes its data.
  void EndLocked(std::map<std::string, std::shared_ptr<Session>>::iterator it);
  std::string PartPath(const std::string& sessionId) const;
  std::string RecordPath(const std::string& sessionId) const;
  std::string FinishedPath(const std::string& sessionId) const;

  KqDatabase* db_;
  std::string dataDir_;
  SessionLimits limits_;
  bool checkArchive_ = true;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
  std::map<std::string, std::shared_ptr<FinishedUpload>> finished_;
  std::deque<std::string> finishedOrder_;
};

// The bytes of one block request on their way into the session's file.
class UploadSessions::Block {
 public:
  ~Block();
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  // False once the block carries more bytes than it announced or cannot be written.
  bool Write(const char* data, size_t size);
  int64_t Received() const { return received_; }

 private:
  friend class UploadSessions;
  // kAppend writes a new block; the compare modes check a retry against the bytes kept on disk,
  // in the session's file or, after the final block, in the stored archive.
  enum class Mode { kAppend, kCompare, kCompareFinished };
  Block() = default;
  bool Flush();
  bool WriteAt(const char* data, size_t size, uint64_t at);

  std::shared_ptr<Session> session_;
  std::shared_ptr<FinishedUpload> finished_;
  std::unique_lock<std::mutex> lock_;
  Mode mode_ = Mode::kAppend;
  Fields fields_;
  std::string urlValue_;
  int fd_ = -1;
  uint64_t offset_ = 0;  // where the block starts in the file
  int64_t received_ = 0;
  int errInfo_ = 0;
  bool differs_ = false;
  bool committed_ = false;
  size_t pending_ = 0;  // appended bytes waiting in the thread's write buffer
  std::vector<char> compareBuffer_;
};

}  // namespace kqserver
