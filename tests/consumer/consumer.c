/* A host built against an installed tree, as a user's project builds: it
 * links the library, calls it and checks an answer that needs no server. */
#include <quorvex.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const char *number = "13912345678", *carriers = "139,\xD2\xC6\xB6\xAF"; /* "139,移动" in GBK */
  char n[4 + 16], c[4 + 16];
  if (dllInitialize() != 1) return 1;
  const int32_t kind = CheckTels(qv_length_prefixed(n, number, (int32_t)strlen(number)),
                                 qv_length_prefixed(c, carriers, (int32_t)strlen(carriers)));
  if (dllUnInitialize() != 1) return 1;
  printf("consumer: CheckTels %d\n", (int)kind);
  return kind == 1 ? 0 : 1;
}
