/* A Windows host written in C, as the README shows one: windows.h first,
 * then the library's header, linked against the import library.  It
 * proves that the header compiles as C beside windows.h (GetMessage
 * included) and that every call below resolves to the DLL's plain names.
 * Exit status 0 when each call gave what it should. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "quorvex.h"

int main(void) {
  char message[QV_BODY_BUFFER_SIZE] = "";
  char number_storage[32], list_storage[64];
  const char number[] = "13912345678";
  const char carriers[] = "139,\xD2\xC6\xB6\xAF"; /* "139,移动" */
  int32_t code = -1, length = -1;
  int failures = 0;

  if (dllInitialize() != 1) ++failures;
  if (CheckTels(qv_length_prefixed(number_storage, number, (int32_t)strlen(number)),
                qv_length_prefixed(list_storage, carriers, (int32_t)strlen(carriers))) != 1)
    ++failures;
  /* Not connected: the notices query fails, through the macro-proof name. */
  if (qv_GetMessage(&code, message) != 0) ++failures;
  if (Heartbeat() != 0) ++failures;
  if (SetReadTimeout(1000) != 1) ++failures;
  /* A buffer size below 1 is refused before anything is sent. */
  if (WebRequestEx(message, 0, &length, &code, "http://127.0.0.1:9/") != 0 || length != -1)
    ++failures;
  if (dllUnInitialize() != 1) ++failures;
  printf("c_host failures=%d\n", failures);
  return failures == 0 ? 0 : 1;
}
