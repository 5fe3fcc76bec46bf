/* Built twice (TWIN "a" and "b"): both builds export a handler of the same name;
   the host must keep both, told apart by module file name. */
#include "vantor_plugin.h"

#include <stdio.h>
#include <string.h>

int32_t GetDLLDesVersion(char *description) {
  strcpy(description, "Same name module " TWIN_UPPER);
  return 0;
}

int32_t GetFilterCount(void) {
  return 1;
}

int32_t GetFilterDesc(int32_t index, char *description, char *exportName) {
  (void)index;
  strcpy(description, "Shared name handler " TWIN_UPPER);
  strcpy(exportName, "SN_Handler");
  return 0;
}

/* Answers a packet with its length, so a test sees the call went through
   with the host's data. */
int32_t SN_Handler(const void *data, int32_t size, TOutputProc output) {
  char text[64];
  if (size == (int32_t)sizeof(TFilterPacket)) {
    const TFilterPacket *packet = (const TFilterPacket *)data;
    snprintf(text, sizeof text, "same_name_" TWIN " packet %d", (int)packet->FrameLen);
  } else {
    snprintf(text, sizeof text, "same_name_" TWIN " notification %d", (int)size);
  }
  output(text);
  return 0;
}
