#include "journal/store.h"

#include <sqlite3.h>

#include <chrono>
#include <utility>

#include "platform/file_system.h"

namespace qv::journal {

namespace {

// The journal's mark in the database header (PRAGMA application_id):
// "QvJn".  A database without it is not a journal of ours.
constexpr int32_t kApplicationId = 0x51764a6e;
// The format this library writes (PRAGMA user_version).
constexpr int32_t kFormat = 1;

constexpr const char *kSchema =
    "CREATE TABLE jobs("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " reference TEXT NOT NULL UNIQUE,"
    " content BLOB NOT NULL,"
    " state INTEGER NOT NULL,"
    " attempts INTEGER NOT NULL DEFAULT 0,"
    " code INTEGER NOT NULL DEFAULT -1,"
    " message BLOB NOT NULL DEFAULT x'',"
    " job_number TEXT NOT NULL DEFAULT '',"
    " evidence BLOB NOT NULL DEFAULT x'',"
    " added_ms INTEGER NOT NULL,"
    " changed_ms INTEGER NOT NULL);"
    "CREATE INDEX jobs_by_state ON jobs(state, id);";

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string error_of(sqlite3 *db, const char *doing) {
  return std::string(doing) + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

// A prepared statement, finalised when it goes.
class Statement {
 public:
  Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
  ~Statement() { sqlite3_finalize(s_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;
  explicit operator bool() const { return s_ != nullptr; }
  sqlite3_stmt *get() const { return s_; }

  void bind(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void bind_text(int i, const std::string &v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void bind_blob(int i, const std::string &v) {
    sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  std::string column(int i) const {
    const auto *p = static_cast<const char *>(sqlite3_column_blob(s_, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s_, i))) : std::string();
  }
  int64_t number(int i) const { return sqlite3_column_int64(s_, i); }

 private:
  sqlite3_stmt *s_ = nullptr;
};

constexpr const char *kInUse =
    "the journal is open elsewhere, in this process or another (one holder at a time)";

bool in_use(sqlite3 *db) {
  const int rc = sqlite3_errcode(db) & 0xff;
  return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

int32_t pragma_number(sqlite3 *db, const char *sql, bool &ok) {
  Statement s(db, sql);
  ok = s && sqlite3_step(s.get()) == SQLITE_ROW;
  return ok ? static_cast<int32_t>(s.number(0)) : 0;
}

// Whether the database holds any table, index or view.
bool is_empty(sqlite3 *db, bool &ok) {
  Statement s(db, "SELECT count(*) FROM sqlite_schema");
  ok = s && sqlite3_step(s.get()) == SQLITE_ROW;
  return ok && s.number(0) == 0;
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::string &path, std::string &why, const char *vfs) {
  if (platform::on_network_file_system(path)) {
    why =
        "the journal's file is on a network file system, where its locks and syncs cannot be "
        "trusted";
    return nullptr;
  }
  sqlite3 *db = nullptr;
  const int rc =
      sqlite3_open_v2(platform::utf8_path(path).c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, vfs);
  std::unique_ptr<Store> store(new Store(db));  // closes db on every early return
  if (rc != SQLITE_OK) {
    why = error_of(db, "the journal could not be opened");
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  // One connection holds the file for as long as it is open: two
  // processes taking jobs from one journal could send a job twice.  Set
  // before the first read, so that WAL keeps its index in this process's
  // memory and never needs shared memory.
  if (!store->exec("PRAGMA locking_mode=EXCLUSIVE", why)) return nullptr;
  bool ok = false;
  const bool empty = is_empty(db, ok);
  if (!ok) {
    why = in_use(db) ? kInUse : error_of(db, "the file is not a journal");
    return nullptr;
  }
  if (empty) {
    const std::string make = "BEGIN IMMEDIATE;" + std::string(kSchema) +
                             "PRAGMA application_id=" + std::to_string(kApplicationId) +
                             ";PRAGMA user_version=" + std::to_string(kFormat) + ";COMMIT;";
    if (!store->exec(make.c_str(), why)) return nullptr;
  }
  const int32_t application = pragma_number(db, "PRAGMA application_id", ok);
  if (!ok || application != kApplicationId) {
    why = "the file is a database of another program, not a journal";
    return nullptr;
  }
  const int32_t format = pragma_number(db, "PRAGMA user_version", ok);
  if (!ok || format > kFormat) {
    why = "the journal is of a newer format (" + std::to_string(format) +
          ") than this library reads (" + std::to_string(kFormat) + ")";
    return nullptr;
  }
  // WAL with a full sync at every commit: a commit that returned is on
  // stable storage, even across a loss of power.
  {
    Statement mode(db, "PRAGMA journal_mode=WAL");
    if (!mode || sqlite3_step(mode.get()) != SQLITE_ROW || mode.column(0) != "wal") {
      why = in_use(db) ? kInUse : error_of(db, "the journal could not be put in WAL mode");
      return nullptr;
    }
  }
  if (!store->exec("PRAGMA synchronous=FULL", why)) return nullptr;
  // Takes the lock for good, and turns the sends that a process ended
  // during (nothing else held the file) into jobs that may have been sent.
  const std::string settle =
      "BEGIN EXCLUSIVE;UPDATE jobs SET state=" + std::to_string(static_cast<int>(State::Unknown)) +
      ", changed_ms=" + std::to_string(now_ms()) +
      " WHERE state=" + std::to_string(static_cast<int>(State::Sending)) + ";COMMIT;";
  if (!store->exec(settle.c_str(), why)) {
    if (in_use(db)) why = kInUse;
    return nullptr;
  }
  return store;
}

Store::~Store() { sqlite3_close_v2(db_); }

bool Store::exec(const char *sql, std::string &why) {
  char *message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  why = std::string("the journal refused a change: ") + (message ? message : sqlite3_errmsg(db_));
  sqlite3_free(message);
  // A statement that failed inside a transaction may leave it open.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

int64_t Store::add(const std::string &reference, const std::string &content, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  {
    Statement found(db_, "SELECT id FROM jobs WHERE reference=?1");
    if (!found) {
      why = error_of(db_, "the journal could not be read");
      return 0;
    }
    found.bind_text(1, reference);
    const int rc = sqlite3_step(found.get());
    if (rc == SQLITE_ROW) return found.number(0);
    if (rc != SQLITE_DONE) {
      why = error_of(db_, "the journal could not be read");
      return 0;
    }
  }
  Statement insert(db_,
                   "INSERT INTO jobs(reference, content, state, added_ms, changed_ms)"
                   " VALUES(?1, ?2, ?3, ?4, ?4)");
  if (!insert) {
    why = error_of(db_, "the job could not be stored");
    return 0;
  }
  insert.bind_text(1, reference);
  insert.bind_blob(2, content);
  insert.bind(3, static_cast<int64_t>(State::Queued));
  insert.bind(4, now_ms());
  // Autocommit: the step returns once the commit is synced.
  if (sqlite3_step(insert.get()) != SQLITE_DONE) {
    why = error_of(db_, "the job could not be stored");
    return 0;
  }
  return sqlite3_last_insert_rowid(db_);
}

std::optional<std::string> Store::content(int64_t id, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "SELECT content FROM jobs WHERE id=?1");
  if (!s) {
    why = error_of(db_, "the journal could not be read");
    return std::nullopt;
  }
  s.bind(1, id);
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return s.column(0);
  why = rc == SQLITE_DONE ? "no job of that id" : error_of(db_, "the journal could not be read");
  return std::nullopt;
}

std::optional<Entry> Store::entry(int64_t id, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "SELECT reference, state, attempts, code, message, job_number, evidence, added_ms,"
              " changed_ms FROM jobs WHERE id=?1");
  if (!s) {
    why = error_of(db_, "the journal could not be read");
    return std::nullopt;
  }
  s.bind(1, id);
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) {
    why = rc == SQLITE_DONE ? "no job of that id" : error_of(db_, "the journal could not be read");
    return std::nullopt;
  }
  const int64_t state = s.number(1);
  if (state < static_cast<int64_t>(State::Queued) || state > static_cast<int64_t>(State::Unknown)) {
    why = "the journal holds a state this library does not know";
    return std::nullopt;
  }
  Entry e;
  e.id = id;
  e.reference = s.column(0);
  e.state = static_cast<State>(state);
  e.attempts = static_cast<int32_t>(s.number(2));
  e.code = static_cast<int32_t>(s.number(3));
  e.message = s.column(4);
  e.job_number = s.column(5);
  e.evidence = s.column(6);
  e.added_ms = s.number(7);
  e.changed_ms = s.number(8);
  return e;
}

std::vector<int64_t> Store::ids(int32_t state, size_t max, int64_t &total, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int64_t> found;
  total = -1;
  // State 0 is every state.
  Statement count(db_, "SELECT count(*) FROM jobs WHERE ?1=0 OR state=?1");
  Statement s(db_, "SELECT id FROM jobs WHERE ?1=0 OR state=?1 ORDER BY id LIMIT ?2");
  if (!count || !s) {
    why = error_of(db_, "the journal could not be read");
    return found;
  }
  count.bind(1, state);
  if (sqlite3_step(count.get()) != SQLITE_ROW) {
    why = error_of(db_, "the journal could not be read");
    return found;
  }
  s.bind(1, state);
  s.bind(2, static_cast<int64_t>(max));
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) found.push_back(s.number(0));
  if (rc != SQLITE_DONE) {
    why = error_of(db_, "the journal could not be read");
    found.clear();
    return found;
  }
  total = count.number(0);
  return found;
}

std::optional<int64_t> Store::first_queued(const std::set<int64_t> &taken, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Enough rows that one not taken is among them.
  Statement s(db_, "SELECT id FROM jobs WHERE state=?1 ORDER BY id LIMIT ?2");
  if (!s) {
    why = error_of(db_, "the journal could not be read");
    return std::nullopt;
  }
  s.bind(1, static_cast<int64_t>(State::Queued));
  s.bind(2, static_cast<int64_t>(taken.size() + 1));
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    if (taken.count(s.number(0)) == 0) return s.number(0);
  if (rc != SQLITE_DONE) why = error_of(db_, "the journal could not be read");
  return rc == SQLITE_DONE ? std::optional<int64_t>(0) : std::nullopt;
}

bool Store::update(const Entry &e, States from, std::string &why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "UPDATE jobs SET state=?2, attempts=?3, code=?4, message=?5, job_number=?6,"
              " evidence=?7, changed_ms=?8 WHERE id=?1 AND ((1 << state) & ?9) != 0");
  if (!s) {
    why = error_of(db_, "the journal could not be changed");
    return false;
  }
  s.bind(1, e.id);
  s.bind(2, static_cast<int64_t>(e.state));
  s.bind(3, e.attempts);
  s.bind(4, e.code);
  s.bind_blob(5, e.message);
  s.bind_text(6, e.job_number);
  s.bind_blob(7, e.evidence);
  s.bind(8, now_ms());
  s.bind(9, from.bits);
  if (sqlite3_step(s.get()) != SQLITE_DONE) {
    why = error_of(db_, "the journal could not be changed");
    return false;
  }
  if (sqlite3_changes(db_) != 1) {
    why = "no job of that id in a state that may change so";
    return false;
  }
  return true;
}

}  // namespace qv::journal
