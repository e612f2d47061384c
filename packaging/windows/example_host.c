/* example_host.c - a small Windows host of Quorvex.dll, in C.
 *
 * Build it in this folder with mingw-w64 against the import library:
 *   i686-w64-mingw32-gcc   example_host.c -o example_host.exe -L. -lQuorvex   (win32 zip)
 *   x86_64-w64-mingw32-gcc example_host.c -o example_host.exe -L. -lQuorvex   (win64 zip)
 * and run it beside Quorvex.dll:  example_host.exe SERVER PORT
 *
 * It connects, logs in, sends a heartbeat and classifies a number with an
 * export that it finds at run time with GetProcAddress. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorvex.h"

/* The type of CheckTels, for the pointer that GetProcAddress returns.
 * QV_CALL is __stdcall for 32-bit hosts and nothing for 64-bit ones. */
typedef int32_t(QV_CALL *CheckTelsFunction)(const char *Number, const char *CarrierList);

int main(int argc, char **argv) {
  const char *server = argc > 1 ? argv[1] : "127.0.0.1";
  const int32_t port = argc > 2 ? atoi(argv[2]) : 9000;
  /* Output buffers are the caller's, of the sizes the header gives. */
  char message[QV_BODY_BUFFER_SIZE] = "";
  char p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE], p3[QV_PARAM_BUFFER_SIZE];
  int32_t code = -1;

  dllInitialize();
  /* 5000 ms to connect; no proxy. */
  if (!TcpConnect(message, server, port, 5000, "", "", 0, "", "")) {
    printf("connect failed\n");
    return 1;
  }
  /* Texts go in and come out in the GBK code page (936). */
  if (!Login_Request("example", "", "demo", "demo123", "1.0") ||
      !Login_Feedback(&code, message, p1, p2, p3) || code != QV_CODE_ACCEPTED) {
    printf("login failed: code %d\n", (int)code);
    return 1;
  }
  printf("login: code %d\n", (int)code);
  printf("heartbeat: %d\n", Heartbeat());

  /* Loading at run time: the same DLL, the export found by its plain name. */
  HMODULE dll = LoadLibraryA("Quorvex.dll");
  CheckTelsFunction check =
      dll ? (CheckTelsFunction)(void *)GetProcAddress(dll, "CheckTels") : NULL;
  if (!check) {
    printf("CheckTels not found\n");
    return 1;
  }
  /* CheckTels takes texts with their int32 length in the 4 bytes before them. */
  const char number[] = "13912345678";
  const char carriers[] = "139,\xD2\xC6\xB6\xAF"; /* "139,移动" in GBK */
  char number_storage[4 + sizeof number], carriers_storage[4 + sizeof carriers];
  const int32_t kind =
      check(qv_length_prefixed(number_storage, number, (int32_t)strlen(number)),
            qv_length_prefixed(carriers_storage, carriers, (int32_t)strlen(carriers)));
  printf("CheckTels: %d\n", (int)kind); /* 1: the first carrier of the list */
  FreeLibrary(dll);

  TcpDisconnect();
  dllUnInitialize();
  return 0;
}
