// The journal's file: an SQLite database in WAL mode with synchronous=FULL,
// so that what a call reports stored is on stable storage when it returns.
// The store refuses a file that is not a journal of this library (another
// program's database, garbage, a journal of a newer format) and never
// keeps anything in memory only: a write that fails is reported and
// nothing is acknowledged.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

namespace qv::journal {

// The values are the header's QV_JOURNAL_* states.
enum class State : int32_t {
  Queued = 1,
  Sending = 2,
  Submitted = 3,
  Refused = 4,
  Failed = 5,
  Unknown = 6,
};

// A set of states.
struct States {
  int64_t bits = 0;
  States(std::initializer_list<State> states) {
    for (const State s : states) bits |= int64_t{1} << static_cast<int>(s);
  }
  bool has(State s) const { return (bits & (int64_t{1} << static_cast<int>(s))) != 0; }
};

struct Entry {
  int64_t id = 0;
  std::string reference;
  State state = State::Queued;
  int32_t attempts = 0;
  int32_t code = -1;
  std::string message;     // GBK, as the server sent it
  std::string job_number;  // once submitted
  std::string evidence;    // what the sender took before the submit, for a look-up after
  int64_t added_ms = 0;    // milliseconds since 1970, UTC
  int64_t changed_ms = 0;
};

class Store {
 public:
  // Opens the journal at path, making it when there is no file; null with
  // why set when it cannot be used.  vfs names an SQLite VFS other than
  // the system's (the tests' lossy disk).
  static std::unique_ptr<Store> open(const std::string &path, std::string &why,
                                     const char *vfs = nullptr);
  ~Store();
  Store(const Store &) = delete;
  Store &operator=(const Store &) = delete;

  // Stores a job's content under the host's reference and returns its id
  // once the commit is on stable storage; the id of the job already
  // stored under that reference, storing nothing; 0 with why on failure.
  int64_t add(const std::string &reference, const std::string &content, std::string &why);
  // The content stored for id; nothing when there is no such job.
  std::optional<std::string> content(int64_t id, std::string &why);
  std::optional<Entry> entry(int64_t id, std::string &why);
  // Ids in state (0: every state), oldest first, at most max of them;
  // total how many there are (-1 with why when they could not be read).
  std::vector<int64_t> ids(int32_t state, size_t max, int64_t &total, std::string &why);
  // The oldest queued job not among taken; 0 when there is none, nothing
  // with why when the journal could not be read.
  std::optional<int64_t> first_queued(const std::set<int64_t> &taken, std::string &why);
  // Moves job e.id, when its state is one of from, to e's state with the
  // rest of what is known; false with why when it is in no such state or
  // the change could not be committed.
  bool update(const Entry &e, States from, std::string &why);

 private:
  explicit Store(sqlite3 *db) : db_(db) {}
  bool exec(const char *sql, std::string &why);

  std::mutex mutex_;  // one statement at a time on the connection
  sqlite3 *db_;
};

}  // namespace qv::journal
