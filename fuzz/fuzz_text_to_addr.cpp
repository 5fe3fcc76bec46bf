// Any text: parsing never fails hard, and a valid address survives a round
// trip through its dotted text.
#include "packet/text_format.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  uint32_t addr = 0xFFFFFFFF;
  if (TryTextToAddr(text, addr)) {
    uint32_t again = 0;
    if (!TryTextToAddr(AddrToText(addr), again) || again != addr)
      __builtin_trap();
  } else if (addr != 0) {
    __builtin_trap(); // an invalid text leaves the address 0
  }
  if (TextToAddr(text) != (TryTextToAddr(text, addr) ? addr : 0))
    __builtin_trap();
  return 0;
}
