// Any "ports.txt" content: the reader yields no table or a full one.
#include "packet/port_names.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const auto slots = ParsePortNames(std::string_view(reinterpret_cast<const char *>(data), size));
  if (!slots.empty() && slots.size() != size_t(kPortNamesSlots))
    __builtin_trap();
  if (!slots.empty() && !slots[0].empty())
    __builtin_trap(); // port 0 is never named by the file
  return 0;
}
