/* The floor of the bindings benchmark: QvHeartbeat on a session, straight
 * from C.  host PORT CALLS ROUNDS prints the median of the rounds' time per
 * call, in nanoseconds. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "quorvex.h"

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

static int by_value(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  int port = atoi(argv[1]), calls = atoi(argv[2]), rounds = atoi(argv[3]);
  double *times = calloc((size_t)rounds, sizeof *times);
  char message[QV_BODY_BUFFER_SIZE];
  QvSession *session = QvSessionCreate();
  if (!times || !session ||
      !QvTcpConnect(session, message, "127.0.0.1", port, 5000, NULL, NULL, 0, NULL, NULL))
    return 1;
  for (int i = 0; i < calls; i++) QvHeartbeat(session); /* warm-up */
  for (int r = 0; r < rounds; r++) {
    double start = now_ns();
    for (int i = 0; i < calls; i++)
      if (!QvHeartbeat(session)) return 1;
    times[r] = (now_ns() - start) / calls;
  }
  qsort(times, (size_t)rounds, sizeof *times, by_value);
  printf("%.1f\n", times[rounds / 2]);
  QvSessionDestroy(session);
  free(times);
  return 0;
}
