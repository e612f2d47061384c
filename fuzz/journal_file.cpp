// A journal file made of the fuzz bytes, opened and read through the
// exports as a host would: whatever the file holds (garbage, a database of
// another program, a journal with damaged rows), the library refuses it or
// reads it without a crash, an overflow or a leak.
#include <quorvex.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string &path() {
  static const std::string p = "/tmp/quorvex-fuzz-" + std::to_string(::getpid()) + ".journal";
  return p;
}

void remove_files() {
  for (const char *suffix : {"", "-wal", "-shm", "-journal"})
    std::remove((path() + suffix).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  remove_files();
  if (FILE *f = std::fopen(path().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  if (QvJournal *j = QvJournalOpen(path().c_str())) {
    std::vector<int64_t> ids(64);
    const int32_t n = QvJournalList(j, 0, ids.data(), static_cast<int32_t>(ids.size()));
    for (int32_t i = 0; i < n && i < static_cast<int32_t>(ids.size()); ++i) {
      int32_t state = 0, attempts = 0, code = 0;
      char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE], message[QV_BODY_BUFFER_SIZE],
          number[QV_PARAM_BUFFER_SIZE], evidence[QV_BODY_BUFFER_SIZE];
      int64_t added = 0, changed = 0;
      QvJournalJob(j, ids[i], &state, reference, &attempts, &code, message, number, &added,
                   &changed);
      for (int32_t which = QV_EVIDENCE_PACKAGES_BEFORE; which <= QV_EVIDENCE_DETAILS_AFTER; ++which)
        QvJournalEvidence(j, ids[i], which, evidence, sizeof evidence);
      QvJournalResolve(j, ids[i], QV_JOURNAL_QUEUED, nullptr);
    }
    QvJournalRecover(j, nullptr, nullptr);
    QvJournalClose(j);
  }
  remove_files();
  return 0;
}
