/* A Windows host in C that keeps its jobs in a journal, linked against the
 * import library.  It proves that the DLL carries a working SQLite: a
 * journal made in a folder whose name is in the system's code page, jobs
 * added once per reference, listed, read back after a reopen; a second open
 * of an open journal and a file that is not one refused.  Given the port of
 * a simulator on loopback, it also logs in, sends the queued jobs and
 * recovers.  Prints "journal_host code page CP failures=N"; exit status 0
 * when N is 0.
 *   journal_host.exe [simulator port] */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorvex.h"

static int failures = 0;

static void check(int ok, const char *what) {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  if (ok) return;
  ++failures;
  GetLastOutcome(NULL, NULL, NULL, NULL, detail, sizeof detail);
  printf("FAILED: %s (%s)\n", what, detail);
}

static int contains_detail(const char *part) {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(NULL, NULL, NULL, NULL, detail, sizeof detail);
  return strstr(detail, part) != NULL;
}

/* A folder name that is not ASCII in the system's code page: the journal
 * must reach the file system under the same name as CreateFileA would. */
static const char *code_page_name(void) {
  switch (GetACP()) {
    case 936: return "qv-\xD6\xD0\xCE\xC4"; /* "中文" */
    case 1252: return "qv-caf\xE9";         /* "café" */
    default: return "qv-plain";
  }
}

static QvJob *make_job(const char *content) {
  QvJob *job = QvJobCreate();
  check(job && QvJobSetText(job, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
            QvJobSetText(job, QV_JOB_CONTENT, content, -1, QV_TEXT_GBK) &&
            QvJobAddNumber(job, "13800000000"),
        "a job is made");
  return job;
}

/* Logs in to the simulator, sends the queued jobs and recovers. */
static void send_through(QvJournal *journal, int64_t id, int port) {
  char message[QV_BODY_BUFFER_SIZE] = "", p[3][QV_PARAM_BUFFER_SIZE];
  char number[QV_PARAM_BUFFER_SIZE] = "";
  int32_t code = -1, settled = -1, resolved = -1, state = 0;
  QvSession *session = QvSessionCreate();
  check(QvTcpConnect(session, message, "127.0.0.1", port, 5000, "", "", 0, "", "") &&
            QvLogin_Request(session, "app", "", "demo", "demo123", "1.0") &&
            QvLogin_Feedback(session, &code, message, p[0], p[1], p[2]),
        "logs in to the simulator");
  check(QvJournalSend(session, journal, 0, &settled) && settled == 2, "sends both queued jobs");
  check(QvJournalJob(journal, id, &state, NULL, NULL, NULL, NULL, number, NULL, NULL) &&
            state == QV_JOURNAL_SUBMITTED && number[0] != '\0',
        "a sent job is SUBMITTED with its job number");
  check(QvJournalList(journal, QV_JOURNAL_QUEUED, NULL, 0) == 0, "no job is left queued");
  check(QvJournalRecover(journal, session, &resolved) && resolved == 0,
        "recovery finds nothing to settle");
  check(QvJournalList(journal, QV_JOURNAL_SUBMITTED, NULL, 0) == 2, "both jobs stay SUBMITTED");
  QvSessionDestroy(session);
}

int main(int argc, char **argv) {
  char folder[MAX_PATH], path[MAX_PATH], garbage[MAX_PATH];
  char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE] = "";
  int64_t ids[4] = {0, 0, 0, 0};
  int32_t state = 0;
  const int port = argc > 1 ? atoi(argv[1]) : 0;
  QvJournal *journal, *again;
  QvJob *first, *second;
  int64_t id1, id2;
  DWORD n = GetTempPathA(MAX_PATH, folder);
  HANDLE file;

  snprintf(folder + n, sizeof folder - n, "%s-%lu", code_page_name(), GetCurrentProcessId());
  if (!CreateDirectoryA(folder, NULL)) {
    /* Wine maps some code pages' names to no file name where the Unix
     * locale is missing; the journal is then tested on a plain name. */
    printf("code page %u: its folder name cannot be made (%lu); a plain one is used\n", GetACP(),
           GetLastError());
    snprintf(folder + n, sizeof folder - n, "qv-plain-%lu", GetCurrentProcessId());
    check(CreateDirectoryA(folder, NULL), "the scratch folder is made");
  }
  snprintf(path, sizeof path, "%s\\jobs.journal", folder);
  snprintf(garbage, sizeof garbage, "%s\\garbage.journal", folder);

  journal = QvJournalOpen(path);
  check(journal != NULL, "a new journal opens");
  first = make_job("first");
  second = make_job("second");
  id1 = QvJournalAdd(journal, first, "order-1");
  id2 = QvJournalAdd(journal, second, "order-2");
  check(id1 > 0 && id2 > 0 && id1 != id2, "two jobs are added");
  check(QvJournalAdd(journal, first, "order-1") == id1, "a reference added again keeps its id");
  check(QvJournalList(journal, 0, ids, 4) == 2 && ids[0] == id1 && ids[1] == id2,
        "the list holds both jobs, oldest first");
  again = QvJournalOpen(path);
  check(again == NULL, "an open journal is not opened twice");
  if (again) QvJournalClose(again);
  check(QvJournalClose(journal), "the journal closes");
  /* The file carries the folder's name as the code page reads it. */
  check(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES, "the file is where the host named it");

  journal = QvJournalOpen(path);
  check(journal != NULL, "the journal opens again");
  check(QvJournalJob(journal, id2, &state, reference, NULL, NULL, NULL, NULL, NULL, NULL) &&
            state == QV_JOURNAL_QUEUED && strcmp(reference, "order-2") == 0,
        "a job reads back after the reopen");
  if (port > 0) send_through(journal, id1, port);
  check(QvJournalClose(journal), "the journal closes again");

  file = CreateFileA(garbage, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    char bytes[4096];
    DWORD written = 0;
    memset(bytes, 'x', sizeof bytes);
    WriteFile(file, bytes, sizeof bytes, &written, NULL);
    CloseHandle(file);
  }
  check(QvJournalOpen(garbage) == NULL && contains_detail("not a journal"),
        "a file of garbage is refused as not a journal");

  QvJobDestroy(first);
  QvJobDestroy(second);
  DeleteFileA(path);
  DeleteFileA(garbage);
  RemoveDirectoryA(folder);
  printf("journal_host code page %u failures=%d\n", GetACP(), failures);
  return failures == 0 ? 0 : 1;
}
