/* Fills every text buffer to the brim without a terminating zero: the host
   must stop at the buffer's end. The export name is terminated, or no
   handler could be found under it. */
#include "vantor_plugin.h"

#include <string.h>

int32_t GetDLLDesVersion(char *description) {
  memset(description, 'D', VANTOR_PLUGIN_TEXT_SIZE);
  return 0;
}

int32_t GetFilterCount(void) {
  return 1;
}

int32_t GetFilterDesc(int32_t index, char *description, char *exportName) {
  (void)index;
  memset(description, 'H', VANTOR_PLUGIN_TEXT_SIZE);
  strcpy(exportName, "UT_Handler");
  return 0;
}

int32_t UT_Handler(const void *data, int32_t size, TOutputProc output) {
  (void)data;
  (void)size;
  output("unterminated_text handler");
  return 0;
}
