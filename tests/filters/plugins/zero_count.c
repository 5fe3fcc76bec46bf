/* Offers no handler at all; it still counts as a loaded module. */
#include "vantor_plugin.h"

#include <string.h>

int32_t GetDLLDesVersion(char *description) {
  strcpy(description, "Zero count module 1.0");
  return 0;
}

int32_t GetFilterCount(void) {
  return 0;
}

int32_t GetFilterDesc(int32_t index, char *description, char *exportName) {
  (void)index;
  strcpy(description, "never asked");
  strcpy(exportName, "ZC_Never");
  return 0;
}

int32_t ZC_Never(const void *data, int32_t size, TOutputProc output) {
  (void)data;
  (void)size;
  output("zero_count handler");
  return 0;
}
