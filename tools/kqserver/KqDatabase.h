#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kqserver {

struct Account {
  std::string name;
  std::string password;
  bool digest = false;  // the account takes only the double MD5 digest of its password
  std::string videotype = "mp4";
  std::string videosrc = "0";
  std::string thumbnail = "0";
  std::string slidesize;
  std::string kqpver;
  std::string folderForm = "tree";  // "tree" (folder element) or "flat" (item list)
  bool hasQuota = false;            // without a quota the account is unlimited
  int64_t totalMb = 0;
  int64_t maxsizeMb = 0;
  int64_t freeBytes = 0;
  bool hasSysinfo = false;  // servers of the older system send no sysinfo
  std::string sysVer;
  std::string noCvtForMp4 = "0";
  std::string customBps = "0";
  std::string adId;
};

struct Folder {
  int64_t id = 0;
  int64_t pid = 0;
  std::string name;
  bool uploadable = false;
};

struct Content {
  int64_t id = 0;
  std::string account;
  int64_t folderId = 0;
  std::string path;  // the stored archive, relative to the data folder; empty when seeded
  int64_t size = 0;
  std::string sha256;
  std::string overwrite = "1";  // what getVersion answers for this content
  std::string updated;
};

// A reply an account gets instead of the normal answer of one route, so refusals can be staged.
struct ReplyOverride {
  std::string errInfo;
  bool showInfo = false;
};

// What the final block of an upload turned into.
struct StoreOutcome {
  int errInfo = 0;  // 0 on success, else the server's code
  int64_t contentId = 0;
  bool replaced = false;
};

// Accounts, folders, contents and quota in one SQLite file. Every call is serialised; errors are
// reported through return values and LastError().
class KqDatabase {
 public:
  KqDatabase() = default;
  ~KqDatabase();
  KqDatabase(const KqDatabase&) = delete;
  KqDatabase& operator=(const KqDatabase&) = delete;

  bool Open(const std::string& path);
  std::string LastError() const;

  std::optional<Account> FindAccount(const std::string& name);
  bool SaveAccount(const Account& account);

  std::vector<Folder> Folders(const std::string& account);
  std::optional<Folder> FindFolder(const std::string& account, int64_t id);
  bool SaveFolder(const std::string& account, const Folder& folder);

  std::optional<Content> FindContent(int64_t id);
  std::vector<Content> Contents();
  bool SaveContent(const Content& content);

  std::optional<ReplyOverride> FindReply(const std::string& account, const std::string& route);
  bool SaveReply(const std::string& account, const std::string& route,
                 const std::optional<ReplyOverride>& reply);

  std::string Setting(const std::string& key, const std::string& fallback);
  bool SaveSetting(const std::string& key, const std::string& value);

  // Records a received archive as new content, or as the new version of `requestedId` when that
  // names a replaceable content of the account, charging the quota. `place` moves the archive to
  // the relative path it is given and runs inside the transaction, so a failed move changes
  // nothing.
  StoreOutcome StoreUpload(const std::string& account, int64_t folderId, int64_t requestedId,
                           int64_t size,
                           const std::function<bool(const std::string& relativePath)>& place);
  // Remembers a content's SHA-256 once it was worked out (uploads store none, to stay fast).
  bool SaveContentHash(int64_t id, const std::string& sha256);

 private:
  bool Execute(const char* sql);
  void SetError(const std::string& what);

  mutable std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string error_;
  // Prepared statements by their text, kept for the life of the connection: an upload looks its
  // account up once per block, and preparing the query again each time costs more than running
  // it. A statement is taken out while in use, so a nested use of the same text prepares another.
  std::unordered_map<std::string, sqlite3_stmt*> prepared_;
};

}  // namespace kqserver
