// The store where this build has no SQLite (the Windows DLLs, until SQLite
// is built for them): every open is refused, and says why.
#include "journal/store.h"

namespace qv::journal {

std::unique_ptr<Store> Store::open(const std::string &, std::string &why, const char *) {
  why = "this build of the library has no journal";
  return nullptr;
}

Store::~Store() = default;

int64_t Store::add(const std::string &, const std::string &, std::string &) { return 0; }
std::optional<std::string> Store::content(int64_t, std::string &) { return std::nullopt; }
std::optional<Entry> Store::entry(int64_t, std::string &) { return std::nullopt; }
std::vector<int64_t> Store::ids(int32_t, size_t, int64_t &total, std::string &) {
  total = -1;
  return {};
}
std::optional<int64_t> Store::first_queued(const std::set<int64_t> &, std::string &) {
  return std::nullopt;
}
bool Store::update(const Entry &, States, std::string &) { return false; }

}  // namespace qv::journal
