#include "tools/kqserver/KqDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "tools/kqserver/ServerCodes.h"

namespace kqserver {

namespace {

constexpr int64_t kMegabyte = 1024 * 1024;

const char* const kSchema = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts(
  name TEXT PRIMARY KEY, password TEXT NOT NULL, digest INTEGER NOT NULL,
  videotype TEXT NOT NULL, videosrc TEXT NOT NULL, thumbnail TEXT NOT NULL,
  slidesize TEXT NOT NULL, kqpver TEXT NOT NULL, folder_form TEXT NOT NULL,
  has_quota INTEGER NOT NULL, total_mb INTEGER NOT NULL, maxsize_mb INTEGER NOT NULL,
  free_bytes INTEGER NOT NULL, has_sysinfo INTEGER NOT NULL, sys_ver TEXT NOT NULL,
  no_cvt_mp4 TEXT NOT NULL, custom_bps TEXT NOT NULL, ad_id TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS folders(
  account TEXT NOT NULL, id INTEGER NOT NULL, pid INTEGER NOT NULL, name TEXT NOT NULL,
  uploadable INTEGER NOT NULL, position INTEGER NOT NULL, PRIMARY KEY(account, id));
CREATE TABLE IF NOT EXISTS contents(
  id INTEGER PRIMARY KEY AUTOINCREMENT, account TEXT NOT NULL, folder_id INTEGER NOT NULL,
  path TEXT NOT NULL, size INTEGER NOT NULL, sha256 TEXT NOT NULL, overwrite TEXT NOT NULL,
  updated TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS replies(
  account TEXT NOT NULL, route TEXT NOT NULL, err_info TEXT NOT NULL, show_info INTEGER NOT NULL,
  PRIMARY KEY(account, route));
)sql";

std::string NowText() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

using PreparedStatements = std::unordered_map<std::string, sqlite3_stmt*>;

// A prepared statement, taken from the connection's cache (or prepared) and handed back reset.
class Statement {
 public:
  Statement(PreparedStatements& cache, sqlite3* db, const char* sql) : cache_(cache), sql_(sql) {
    const auto found = cache_.find(sql_);
    if (found != cache_.end() && found->second != nullptr) {
      stmt_ = found->second;
      found->second = nullptr;
      ok_ = true;
    } else {
      ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK;
    }
  }
  ~Statement() {
    if (!ok_) {
      sqlite3_finalize(stmt_);
      return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    sqlite3_stmt*& slot = cache_[sql_];
    if (slot == nullptr) {
      slot = stmt_;
    } else {
      sqlite3_finalize(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return ok_; }
  Statement& Bind(int index, const std::string& value) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  bool Run() { return Step() == SQLITE_DONE; }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

 private:
  PreparedStatements& cache_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
  bool ok_ = false;
};

Content ReadContent(const Statement& row) {
  Content content;
  content.id = row.Int(0);
  content.account = row.Text(1);
  content.folderId = row.Int(2);
  content.path = row.Text(3);
  content.size = row.Int(4);
  content.sha256 = row.Text(5);
  content.overwrite = row.Text(6);
  content.updated = row.Text(7);
  return content;
}

const char* const kContentColumns =
    "SELECT id, account, folder_id, path, size, sha256, overwrite, updated FROM contents";

}  // namespace

KqDatabase::~KqDatabase() {
  for (const auto& [sql, statement] : prepared_) sqlite3_finalize(statement);
  if (db_ != nullptr) sqlite3_close(db_);
}

bool KqDatabase::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  // The database holds the accounts' passwords: only the owner may read it, also when an older
  // run left it readable. SQLite gives its journal the same permissions.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::fchmod(fd, 0600) != 0) {
    if (fd >= 0) ::close(fd);
    error_ = "cannot create the database " + path + " readable only by its owner";
    return false;
  }
  ::close(fd);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    SetError("cannot open the database " + path);
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  return Execute(kSchema);
}

std::string KqDatabase::LastError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void KqDatabase::SetError(const std::string& what) {
  error_ = what;
  if (db_ != nullptr) error_ += std::string(": ") + sqlite3_errmsg(db_);
}

bool KqDatabase::Execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : "database error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::optional<Account> KqDatabase::FindAccount(const std::string& name) {
  std::lock_guard lock(mutex_);
  Statement row(prepared_, db_,
                "SELECT name, password, digest, videotype, videosrc, thumbnail, slidesize, kqpver,"
                " folder_form, has_quota, total_mb, maxsize_mb, free_bytes, has_sysinfo, sys_ver,"
                " no_cvt_mp4, custom_bps, ad_id FROM accounts WHERE name = ?");
  row.Bind(1, name);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  Account account;
  account.name = row.Text(0);
  account.password = row.Text(1);
  account.digest = row.Int(2) != 0;
  account.videotype = row.Text(3);
  account.videosrc = row.Text(4);
  account.thumbnail = row.Text(5);
  account.slidesize = row.Text(6);
  account.kqpver = row.Text(7);
  account.folderForm = row.Text(8);
  account.hasQuota = row.Int(9) != 0;
  account.totalMb = row.Int(10);
  account.maxsizeMb = row.Int(11);
  account.freeBytes = row.Int(12);
  account.hasSysinfo = row.Int(13) != 0;
  account.sysVer = row.Text(14);
  account.noCvtForMp4 = row.Text(15);
  account.customBps = row.Text(16);
  account.adId = row.Text(17);
  return account;
}

bool KqDatabase::SaveAccount(const Account& account) {
  std::lock_guard lock(mutex_);
  Statement statement(
      prepared_, db_,
      "INSERT OR REPLACE INTO accounts(name, password, digest, videotype, videosrc, thumbnail,"
      " slidesize, kqpver, folder_form, has_quota, total_mb, maxsize_mb, free_bytes, has_sysinfo,"
      " sys_ver, no_cvt_mp4, custom_bps, ad_id)"
      " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  statement.Bind(1, account.name).Bind(2, account.password).Bind(3, int64_t{account.digest});
  statement.Bind(4, account.videotype).Bind(5, account.videosrc).Bind(6, account.thumbnail);
  statement.Bind(7, account.slidesize).Bind(8, account.kqpver).Bind(9, account.folderForm);
  statement.Bind(10, int64_t{account.hasQuota}).Bind(11, account.totalMb);
  statement.Bind(12, account.maxsizeMb).Bind(13, account.freeBytes);
  statement.Bind(14, int64_t{account.hasSysinfo}).Bind(15, account.sysVer);
  statement.Bind(16, account.noCvtForMp4).Bind(17, account.customBps).Bind(18, account.adId);
  if (!statement.Run()) {
    SetError("cannot save account " + account.name);
    return false;
  }
  return true;
}

std::vector<Folder> KqDatabase::Folders(const std::string& account) {
  std::lock_guard lock(mutex_);
  std::vector<Folder> folders;
  Statement row(
      prepared_, db_,
      "SELECT id, pid, name, uploadable FROM folders WHERE account = ? ORDER BY position");
  row.Bind(1, account);
  while (row.Step() == SQLITE_ROW) {
    folders.push_back({row.Int(0), row.Int(1), row.Text(2), row.Int(3) != 0});
  }
  return folders;
}

std::optional<Folder> KqDatabase::FindFolder(const std::string& account, int64_t id) {
  std::lock_guard lock(mutex_);
  Statement row(prepared_, db_,
                "SELECT id, pid, name, uploadable FROM folders WHERE account = ? AND id = ?");
  row.Bind(1, account).Bind(2, id);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  return Folder{row.Int(0), row.Int(1), row.Text(2), row.Int(3) != 0};
}

bool KqDatabase::SaveFolder(const std::string& account, const Folder& folder) {
  std::lock_guard lock(mutex_);
  // A folder keeps its place in the list when it is seeded again; new folders go last.
  Statement statement(
      prepared_, db_,
      "INSERT INTO folders(account, id, pid, name, uploadable, position) VALUES(?, ?, ?, ?, ?,"
      " (SELECT COALESCE(MAX(position), 0) + 1 FROM folders))"
      " ON CONFLICT(account, id) DO UPDATE SET pid = excluded.pid, name = excluded.name,"
      " uploadable = excluded.uploadable");
  statement.Bind(1, account).Bind(2, folder.id).Bind(3, folder.pid).Bind(4, folder.name);
  statement.Bind(5, int64_t{folder.uploadable});
  if (!statement.Run()) {
    SetError("cannot save folder " + std::to_string(folder.id));
    return false;
  }
  return true;
}

std::optional<Content> KqDatabase::FindContent(int64_t id) {
  std::lock_guard lock(mutex_);
  Statement row(prepared_, db_, (std::string(kContentColumns) + " WHERE id = ?").c_str());
  row.Bind(1, id);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  return ReadContent(row);
}

std::vector<Content> KqDatabase::Contents() {
  std::lock_guard lock(mutex_);
  std::vector<Content> contents;
  Statement row(prepared_, db_, (std::string(kContentColumns) + " ORDER BY id").c_str());
  while (row.Step() == SQLITE_ROW) contents.push_back(ReadContent(row));
  return contents;
}

bool KqDatabase::SaveContent(const Content& content) {
  std::lock_guard lock(mutex_);
  Statement statement(prepared_, db_,
                      "INSERT OR REPLACE INTO contents(id, account, folder_id, path, size, sha256,"
                      " overwrite, updated) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
  statement.Bind(1, content.id).Bind(2, content.account).Bind(3, content.folderId);
  statement.Bind(4, content.path).Bind(5, content.size).Bind(6, content.sha256);
  statement.Bind(7, content.overwrite)
      .Bind(8, content.updated.empty() ? NowText() : content.updated);
  if (!statement.Run()) {
    SetError("cannot save content " + std::to_string(content.id));
    return false;
  }
  return true;
}

bool KqDatabase::SaveContentHash(int64_t id, const std::string& sha256) {
  std::lock_guard lock(mutex_);
  Statement statement(prepared_, db_, "UPDATE contents SET sha256 = ? WHERE id = ?");
  statement.Bind(1, sha256).Bind(2, id);
  return statement.Run();
}

std::optional<ReplyOverride> KqDatabase::FindReply(const std::string& account,
                                                   const std::string& route) {
  std::lock_guard lock(mutex_);
  Statement row(prepared_, db_,
                "SELECT err_info, show_info FROM replies WHERE account = ? AND route = ?");
  row.Bind(1, account).Bind(2, route);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  return ReplyOverride{row.Text(0), row.Int(1) != 0};
}

bool KqDatabase::SaveReply(const std::string& account, const std::string& route,
                           const std::optional<ReplyOverride>& reply) {
  std::lock_guard lock(mutex_);
  if (!reply) {
    Statement statement(prepared_, db_, "DELETE FROM replies WHERE account = ? AND route = ?");
    statement.Bind(1, account).Bind(2, route);
    return statement.Run();
  }
  Statement statement(prepared_, db_,
                      "INSERT OR REPLACE INTO replies(account, route, err_info, show_info)"
                      " VALUES(?, ?, ?, ?)");
  statement.Bind(1, account).Bind(2, route).Bind(3, reply->errInfo);
  statement.Bind(4, int64_t{reply->showInfo});
  if (!statement.Run()) {
    SetError("cannot save a reply for " + account);
    return false;
  }
  return true;
}

std::string KqDatabase::Setting(const std::string& key, const std::string& fallback) {
  std::lock_guard lock(mutex_);
  Statement row(prepared_, db_, "SELECT value FROM settings WHERE key = ?");
  row.Bind(1, key);
  return row.Step() == SQLITE_ROW ? row.Text(0) : fallback;
}

bool KqDatabase::SaveSetting(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  Statement statement(prepared_, db_, "INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)");
  statement.Bind(1, key).Bind(2, value);
  return statement.Run();
}

StoreOutcome KqDatabase::StoreUpload(const std::string& accountName, int64_t folderId,
                                     int64_t requestedId, int64_t size,
                                     const std::function<bool(const std::string&)>& place) {
  std::lock_guard lock(mutex_);
  StoreOutcome outcome;
  auto account = FindAccount(accountName);
  if (!account) {
    outcome.errInfo = codes::kLoginRefused;
    return outcome;
  }
  std::optional<Content> previous;
  if (requestedId > 0) {
    previous = FindContent(requestedId);
    // Another account's number, or one that does not exist, makes new content: an upload never
    // touches what it does not own.
    if (previous && previous->account != accountName) previous.reset();
  }
  if (previous && (previous->overwrite == "2" || previous->overwrite == "3" ||
                   previous->folderId != folderId)) {
    outcome.errInfo = codes::kContentLocked;
    return outcome;
  }
  const int64_t released = previous ? previous->size : 0;
  if (account->hasQuota) {
    if (size > account->maxsizeMb * kMegabyte) {
      outcome.errInfo = codes::kExceedsMaxSize;
      return outcome;
    }
    if (size - released > account->freeBytes) {
      outcome.errInfo = codes::kNoSpace;
      return outcome;
    }
  }
  if (!Execute("BEGIN IMMEDIATE")) {
    outcome.errInfo = codes::kStoreFailed;
    return outcome;
  }
  const auto fail = [&] {
    Execute("ROLLBACK");
    outcome = StoreOutcome{};
    outcome.errInfo = codes::kStoreFailed;
    return outcome;
  };
  int64_t id = previous ? previous->id : 0;
  if (!previous) {
    Statement insert(prepared_, db_,
                     "INSERT INTO contents(account, folder_id, path, size, sha256, overwrite,"
                     " updated) VALUES(?, ?, '', 0, '', '1', ?)");
    insert.Bind(1, accountName).Bind(2, folderId).Bind(3, NowText());
    if (!insert.Run()) return fail();
    id = sqlite3_last_insert_rowid(db_);
  }
  const std::string path = "contents/" + std::to_string(id) + "/mavo_file.zip";
  Statement update(prepared_, db_,
                   "UPDATE contents SET path = ?, size = ?, sha256 = ?, updated = ? WHERE id = ?");
  update.Bind(1, path).Bind(2, size).Bind(3, std::string()).Bind(4, NowText()).Bind(5, id);
  if (!update.Run()) return fail();
  if (account->hasQuota) {
    Statement charge(prepared_, db_,
                     "UPDATE accounts SET free_bytes = free_bytes - ? WHERE name = ?");
    charge.Bind(1, size - released).Bind(2, accountName);
    if (!charge.Run()) return fail();
  }
  if (!place(path)) return fail();
  if (!Execute("COMMIT")) return fail();
  outcome.contentId = id;
  outcome.replaced = previous.has_value();
  return outcome;
}

}  // namespace kqserver
