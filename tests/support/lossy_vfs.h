// An SQLite VFS for the journal's tests that models what a disk does
// between syncs.  Every write goes to the real file at once (as the page
// cache shows it to readers), and is remembered with what it overwrote
// until the file is synced.  cut_power() puts back, in every file, what
// was there at its last sync: what a power loss leaves.  fail_after(n)
// makes the n+1st write and every sync after it fail as a full or failing
// disk does.
#pragma once

#include <cstddef>
#include <string>

namespace qvtest {

class LossyVfs {
 public:
  // Registers the VFS under name; as the process's default one with
  // make_default, so that a library that opens its files through SQLite's
  // default goes through it too.
  explicit LossyVfs(const char *name = "lossy", bool make_default = false);
  ~LossyVfs();
  LossyVfs(const LossyVfs &) = delete;
  LossyVfs &operator=(const LossyVfs &) = delete;

  const char *name() const;
  // Undoes every write not synced, in every file this VFS opened; the
  // connections on them must be closed first.
  void cut_power();
  // From the next write on: writes after the first n fail with
  // SQLITE_FULL, syncs with SQLITE_IOERR_FSYNC; -1 stops failing.
  void fail_after(long n);
  long writes() const;
};

}  // namespace qvtest
