// Any file content: the entries a load gives survive a save and a second load
// unchanged, except the "_sys_" ones that never reach the file.
#include "settings/file_config.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TFileConfig first;
  first.LoadFromText(std::string_view(reinterpret_cast<const char *>(data), size));
  if (first.Keys.size() != first.Values.size())
    __builtin_trap();

  TFileConfig expected;
  for (size_t i = 0; i < first.Keys.size(); ++i) {
    if (first.Keys[i].starts_with("_sys_"))
      continue;
    expected.Keys.push_back(first.Keys[i]);
    expected.Values.push_back(first.Values[i]);
  }

  TFileConfig second;
  second.LoadFromText(first.SaveText());
  if (second.Keys != expected.Keys || second.Values != expected.Values)
    __builtin_trap();

  // Every loaded key is found again, at or before its own place (the first
  // keys only: each lookup scans the whole store).
  const size_t checked = first.Keys.size() < 64 ? first.Keys.size() : 64;
  for (size_t i = 0; i < checked; ++i) {
    size_t before = first.Keys.size();
    first.ReadString(first.Keys[i], "");
    if (first.Keys.size() != before)
      __builtin_trap();
  }
  return 0;
}
