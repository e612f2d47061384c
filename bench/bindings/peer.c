/* The bindings benchmark's server: answers every 2116-byte record at once
 * with a fixed record (code 900), a thread per connection, so that what the
 * hosts' figures differ by is the binding and not the server.  Prints the
 * port it listens on (127.0.0.1, picked by the kernel) and serves until it is
 * killed. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum { RECORD_SIZE = 2116 };

static int exchange(int fd, char *buffer, int writing) {
  size_t done = 0;
  while (done < RECORD_SIZE) {
    ssize_t n = writing ? write(fd, buffer + done, RECORD_SIZE - done)
                        : read(fd, buffer + done, RECORD_SIZE - done);
    if (n <= 0) return 0;
    done += (size_t)n;
  }
  return 1;
}

static void *serve(void *arg) {
  int fd = (int)(intptr_t)arg, one = 1;
  char request[RECORD_SIZE], answer[RECORD_SIZE] = {0};
  int32_t code = 900;
  memcpy(answer, &code,
         sizeof code); /* the record's code, little-endian on the hosts this runs on */
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  while (exchange(fd, request, 0) && exchange(fd, answer, 1)) {
  }
  close(fd);
  return NULL;
}

int main(void) {
  struct sockaddr_in address = {.sin_family = AF_INET, .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  socklen_t length = sizeof address;
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0 || bind(listener, (struct sockaddr *)&address, sizeof address) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, (struct sockaddr *)&address, &length) != 0) {
    perror("peer");
    return 1;
  }
  printf("%d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    int fd = accept(listener, NULL, NULL);
    pthread_t thread;
    if (fd >= 0 && pthread_create(&thread, NULL, serve, (void *)(intptr_t)fd) == 0)
      pthread_detach(thread);
  }
}
