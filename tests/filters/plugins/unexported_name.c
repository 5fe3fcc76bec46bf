/* Lists three handlers, but the name given for index 1 is not one of its own
   exports: "strlen" lives in the C library the module depends on, so a host
   that asked dlsym alone would register the C library's function. */
#include "vantor_plugin.h"

#include <stdio.h>
#include <string.h>

int32_t GetDLLDesVersion(char *description) {
  strcpy(description, "Unexported name module");
  return 0;
}

int32_t GetFilterCount(void) {
  return 3;
}

int32_t GetFilterDesc(int32_t index, char *description, char *exportName) {
  static const char *const names[] = {"UN_First", "strlen", "UN_Third"};
  if (index < 0 || index > 2)
    return 0;
  snprintf(description, VANTOR_PLUGIN_TEXT_SIZE, "Unexported name handler %d", (int)index);
  strcpy(exportName, names[index]);
  return 0;
}

int32_t UN_First(const void *data, int32_t size, TOutputProc output) {
  (void)data;
  (void)size;
  output("unexported_name first");
  return 0;
}

int32_t UN_Third(const void *data, int32_t size, TOutputProc output) {
  (void)data;
  (void)size;
  output("unexported_name third");
  return 0;
}
