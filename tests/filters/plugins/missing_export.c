/* Exports the description and the count but not GetFilterDesc: the host must
   release it and give it no row anywhere. */
#include "vantor_plugin.h"

#include <string.h>

int32_t GetDLLDesVersion(char *description) {
  strcpy(description, "Missing export module");
  return 0;
}

int32_t GetFilterCount(void) {
  return 1;
}

int32_t ME_Handler(const void *data, int32_t size, TOutputProc output) {
  (void)data;
  (void)size;
  output("missing_export handler");
  return 0;
}
