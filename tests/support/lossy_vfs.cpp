#include "lossy_vfs.h"

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qvtest {

namespace {

// What a write replaced: the bytes at its place before it, and the file's
// size then (a write past the end grows the file; a cut shrinks it back).
struct Undo {
  sqlite3_int64 offset;
  std::string before;
  sqlite3_int64 size_before;
};

struct State {
  std::mutex mutex;
  sqlite3_vfs vfs{};
  sqlite3_vfs *real = nullptr;
  std::string name;
  // By path: the undo log since the file's last sync.
  std::map<std::string, std::vector<Undo>> unsynced;
  long writes = 0;
  long fail_after = -1;
};

State *g_state = nullptr;

struct File {
  sqlite3_file base;  // first: SQLite sees this
  sqlite3_file *real;
  std::string path;
};

sqlite3_file *real_of(sqlite3_file *f) { return reinterpret_cast<File *>(f)->real; }

sqlite3_int64 size_of(sqlite3_file *real) {
  sqlite3_int64 size = 0;
  real->pMethods->xFileSize(real, &size);
  return size;
}

bool failing_now() { return g_state->fail_after >= 0 && g_state->writes > g_state->fail_after; }

int x_close(sqlite3_file *f) {
  auto *file = reinterpret_cast<File *>(f);
  const int rc = file->real->pMethods->xClose(file->real);
  sqlite3_free(file->real);
  file->path.~basic_string();
  return rc;
}

int x_read(sqlite3_file *f, void *out, int n, sqlite3_int64 at) {
  return real_of(f)->pMethods->xRead(real_of(f), out, n, at);
}

int x_write(sqlite3_file *f, const void *data, int n, sqlite3_int64 at) {
  auto *file = reinterpret_cast<File *>(f);
  sqlite3_file *real = file->real;
  {
    const std::lock_guard<std::mutex> lock(g_state->mutex);
    ++g_state->writes;
    if (failing_now()) return SQLITE_FULL;
    Undo undo{at, std::string(static_cast<size_t>(n), '\0'), size_of(real)};
    // What was there (zeros past the end, which a shorter read reports).
    real->pMethods->xRead(real, undo.before.data(), n, at);
    g_state->unsynced[file->path].push_back(std::move(undo));
  }
  return real->pMethods->xWrite(real, data, n, at);
}

int x_truncate(sqlite3_file *f, sqlite3_int64 size) {
  auto *file = reinterpret_cast<File *>(f);
  sqlite3_file *real = file->real;
  {
    const std::lock_guard<std::mutex> lock(g_state->mutex);
    const sqlite3_int64 now = size_of(real);
    if (size < now) {
      Undo undo{size, std::string(static_cast<size_t>(now - size), '\0'), now};
      real->pMethods->xRead(real, undo.before.data(), static_cast<int>(now - size), size);
      g_state->unsynced[file->path].push_back(std::move(undo));
    }
  }
  return real->pMethods->xTruncate(real, size);
}

int x_sync(sqlite3_file *f, int flags) {
  auto *file = reinterpret_cast<File *>(f);
  {
    const std::lock_guard<std::mutex> lock(g_state->mutex);
    if (failing_now()) return SQLITE_IOERR_FSYNC;
    g_state->unsynced.erase(file->path);
  }
  return file->real->pMethods->xSync(file->real, flags);
}

int x_file_size(sqlite3_file *f, sqlite3_int64 *size) {
  return real_of(f)->pMethods->xFileSize(real_of(f), size);
}
int x_lock(sqlite3_file *f, int level) { return real_of(f)->pMethods->xLock(real_of(f), level); }
int x_unlock(sqlite3_file *f, int level) {
  return real_of(f)->pMethods->xUnlock(real_of(f), level);
}
int x_check_reserved(sqlite3_file *f, int *out) {
  return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out);
}
int x_file_control(sqlite3_file *f, int op, void *arg) {
  return real_of(f)->pMethods->xFileControl(real_of(f), op, arg);
}
int x_sector_size(sqlite3_file *f) { return real_of(f)->pMethods->xSectorSize(real_of(f)); }
int x_device(sqlite3_file *f) { return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f)); }
int x_shm_map(sqlite3_file *f, int page, int size, int extend, void volatile **out) {
  return real_of(f)->pMethods->xShmMap(real_of(f), page, size, extend, out);
}
int x_shm_lock(sqlite3_file *f, int offset, int n, int flags) {
  return real_of(f)->pMethods->xShmLock(real_of(f), offset, n, flags);
}
void x_shm_barrier(sqlite3_file *f) { real_of(f)->pMethods->xShmBarrier(real_of(f)); }
int x_shm_unmap(sqlite3_file *f, int remove) {
  return real_of(f)->pMethods->xShmUnmap(real_of(f), remove);
}

const sqlite3_io_methods kMethods = {
    2,           x_close,   x_read,     x_write,          x_truncate,     x_sync,
    x_file_size, x_lock,    x_unlock,   x_check_reserved, x_file_control, x_sector_size,
    x_device,    x_shm_map, x_shm_lock, x_shm_barrier,    x_shm_unmap,    nullptr,
    nullptr,
};

int x_open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *out_flags) {
  auto *file = reinterpret_cast<File *>(f);
  file->base.pMethods = nullptr;
  file->real = static_cast<sqlite3_file *>(sqlite3_malloc(g_state->real->szOsFile));
  if (!file->real) return SQLITE_NOMEM;
  std::memset(file->real, 0, static_cast<size_t>(g_state->real->szOsFile));
  const int rc = g_state->real->xOpen(g_state->real, name, file->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    sqlite3_free(file->real);
    return rc;
  }
  new (&file->path) std::string(name ? name : "");
  file->base.pMethods = &kMethods;
  return SQLITE_OK;
}

// The rest is the real VFS's.
int x_delete(sqlite3_vfs *, const char *name, int sync) {
  return g_state->real->xDelete(g_state->real, name, sync);
}
int x_access(sqlite3_vfs *, const char *name, int flags, int *out) {
  return g_state->real->xAccess(g_state->real, name, flags, out);
}
int x_full_path(sqlite3_vfs *, const char *name, int n, char *out) {
  return g_state->real->xFullPathname(g_state->real, name, n, out);
}
int x_randomness(sqlite3_vfs *, int n, char *out) {
  return g_state->real->xRandomness(g_state->real, n, out);
}
int x_sleep(sqlite3_vfs *, int us) { return g_state->real->xSleep(g_state->real, us); }
int x_current_time(sqlite3_vfs *, double *out) {
  return g_state->real->xCurrentTime(g_state->real, out);
}
int x_last_error(sqlite3_vfs *, int n, char *out) {
  return g_state->real->xGetLastError(g_state->real, n, out);
}

}  // namespace

LossyVfs::LossyVfs(const char *name, bool make_default) {
  g_state = new State;
  g_state->real = sqlite3_vfs_find(nullptr);
  g_state->name = name;
  sqlite3_vfs &v = g_state->vfs;
  v.iVersion = 1;
  // The File holds the real one's pointer and its path beside the base.
  v.szOsFile = static_cast<int>(sizeof(File));
  v.mxPathname = g_state->real->mxPathname;
  v.zName = g_state->name.c_str();
  v.xOpen = x_open;
  v.xDelete = x_delete;
  v.xAccess = x_access;
  v.xFullPathname = x_full_path;
  v.xRandomness = x_randomness;
  v.xSleep = x_sleep;
  v.xCurrentTime = x_current_time;
  v.xGetLastError = x_last_error;
  sqlite3_vfs_register(&v, make_default ? 1 : 0);
}

LossyVfs::~LossyVfs() {
  sqlite3_vfs_unregister(&g_state->vfs);
  delete g_state;
  g_state = nullptr;
}

const char *LossyVfs::name() const { return g_state->name.c_str(); }

void LossyVfs::cut_power() {
  const std::lock_guard<std::mutex> lock(g_state->mutex);
  for (auto &[path, undos] : g_state->unsynced) {
    sqlite3_file *real = static_cast<sqlite3_file *>(sqlite3_malloc(g_state->real->szOsFile));
    std::memset(real, 0, static_cast<size_t>(g_state->real->szOsFile));
    int out = 0;
    if (g_state->real->xOpen(g_state->real, path.c_str(), real,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_MAIN_DB, &out) == SQLITE_OK) {
      for (auto it = undos.rbegin(); it != undos.rend(); ++it) {
        real->pMethods->xWrite(real, it->before.data(), static_cast<int>(it->before.size()),
                               it->offset);
        real->pMethods->xTruncate(real, it->size_before);
      }
      real->pMethods->xClose(real);
    }
    sqlite3_free(real);
  }
  g_state->unsynced.clear();
}

void LossyVfs::fail_after(long n) {
  const std::lock_guard<std::mutex> lock(g_state->mutex);
  g_state->fail_after = n < 0 ? -1 : g_state->writes + n;
}

long LossyVfs::writes() const {
  const std::lock_guard<std::mutex> lock(g_state->mutex);
  return g_state->writes;
}

}  // namespace qvtest
