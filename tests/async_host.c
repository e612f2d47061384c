/* A C host that never blocks on the network: it starts operations and
 * waits for them with poll() on the queue's wait handle, as an event loop
 * would, ticking meanwhile.  Against a simulator that answers slowly.
 *
 *   async_host PORT     prints "async host: ok" and exits 0 when all held */
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorvex.h"

enum { CONNECT = 1, LOGIN, UD_INFO, MMS, CANCELLED, COUNT };

static int failures;

static void check(int ok, const char *what) {
  if (!ok) {
    printf("FAIL %s\n", what);
    ++failures;
  }
}

static int readable(QvQueue *q) {
  struct pollfd p = {(int)QvQueueWaitHandle(q), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

static void completed(QvOp *op, int *seen) {
  const intptr_t what = (intptr_t)QvOpTag(op);
  char text[QV_BODY_BUFFER_SIZE];
  int32_t outcome = -1, sent = -1;
  check(what > 0 && what < COUNT && !seen[what], "each operation completes once");
  if (what <= 0 || what >= COUNT) return;
  seen[what] = 1;
  QvOpOutcome(op, &outcome, &sent, NULL, NULL, NULL, 0);
  switch (what) {
    case CONNECT: check(QvOpResult(op), "the connect"); break;
    case LOGIN:
      check(QvOpResult(op) && QvOpCode(op) == QV_CODE_ACCEPTED, "the login, accepted");
      break;
    case UD_INFO:
      check(QvOpResult(op) && QvOpText(op, 1, text, sizeof text) > 0, "the account's id in Param1");
      break;
    case MMS:
      check(QvOpResult(op) && QvOpText(op, 0, text, sizeof text) >= 0 &&
                strcmp(text, "102400") == 0 && QvOpText(op, 1, text, sizeof text) == 1,
            "the MMS size and its unit");
      break;
    case CANCELLED:
      check(!QvOpResult(op) && outcome == QV_OUTCOME_CANCELLED && sent == 0,
            "a cancelled operation: CANCELLED, nothing sent");
      break;
  }
  check(QvOpFree(op), "a free");
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  QvSession *s = QvSessionCreate();
  QvQueue *q = QvQueueCreate();
  int seen[COUNT] = {0}, done = 0;
  long ticks = 0;
  QvOp *doomed;
  check(s && q && QvQueueWaitHandle(q) >= 0, "a session, a queue, its wait handle");
  check(!readable(q), "an empty queue's handle not readable");
  check(QvStartTcpConnect(s, q, (void *)CONNECT, "127.0.0.1", atoi(argv[1]), 5000, "", "", 0, "",
                          "") != NULL,
        "start the connect");
  check(QvStartLogin(s, q, (void *)LOGIN, "c-host", "", "demo", "demo123", "1.0") != NULL,
        "start the login");
  check(QvStartGetUdInfo(s, q, (void *)UD_INFO) != NULL, "start GetUdInfo");
  check(QvStartMMSMaxSize(s, q, (void *)MMS, "size", "B") != NULL, "start MMSMaxSize");
  doomed = QvStartHeartbeat(s, q, (void *)CANCELLED);
  check(QvOpCancel(doomed), "a cancel of one not started");
  while (done < COUNT - 1) {
    struct pollfd p = {(int)QvQueueWaitHandle(q), POLLIN, 0};
    const int n = poll(&p, 1, 10);
    if (n == 0) {
      if (++ticks > 3000) break; /* 30 s: something hangs */
      continue;
    }
    /* Readable: a completion waits for this thread, the only one taking. */
    {
      QvOp *op = QvQueueNext(q, 0);
      check(op != NULL, "a completion behind a readable handle");
      if (!op) break;
      completed(op, seen);
      ++done;
    }
  }
  check(done == COUNT - 1, "every operation completed");
  check(ticks > 0, "the loop ticked while the calls ran");
  check(!readable(q) && QvQueueNext(q, 0) == NULL, "all taken: the handle not readable");
  check(QvQueueDestroy(q) && QvSessionDestroy(s), "the queue and the session destroyed");
  printf("async host: %s (%d operations, %ld ticks)\n", failures ? "failed" : "ok", done, ticks);
  return failures ? 1 : 0;
}
