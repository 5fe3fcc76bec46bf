// Any filter file content: LoadFilter either fills the record or throws its
// own error, and never writes past the handler chain.
#include "filters/builtin_handlers.h"
#include "filters/filter_file.h"
#include "filters/handler_table.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One file for the whole run, rewritten for every input and removed at exit.
struct InputFile {
  std::string path;
  InputFile() {
    char pattern[] = "/tmp/fuzz_load_filter-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0)
      std::abort();
    close(fd);
    path = pattern;
  }
  ~InputFile() { unlink(path.c_str()); }
};

const std::string &inputPath() {
  static const InputFile file;
  return file.path;
}

void registerBuiltIns() {
  static const bool done = [] {
    AddFilterProc({FL_PrintStdHead, "Internal", "FL_PrintStdHead", "Print IP Header"});
    AddFilterProc({FL_DumpMessage, "Internal", "FL_DumpMessage", "Dump IP Package"});
    return true;
  }();
  (void)done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  registerBuiltIns();
  const std::string &path = inputPath();
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file)
    std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size)
    std::abort();
  std::fclose(file);

  TIPFilter filter;
  try {
    LoadFilter(filter, path);
  } catch (const EFilterFileError &) {
    return 0;
  }
  if (filter.ProcCount > kMaxProcsPerFilter)
    __builtin_trap();
  for (int i = filter.ProcCount < 0 ? 0 : filter.ProcCount; i < kMaxProcsPerFilter; ++i) {
    const TCustFilters &row = filter.Procs[i];
    if (row.Proc || !row.DLLName.empty() || !row.ProcName.empty())
      __builtin_trap(); // rows past the count stay empty
  }
  return 0;
}
