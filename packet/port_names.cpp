#include "packet/port_names.h"

#include "packet/number_parse.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

namespace {

constexpr int32_t kNotLookedFor = -1;
constexpr const char *kFileName = "ports.txt";

// The load happens once; afterwards the names are only read, so lookups check
// the size without locking and the mutex only orders racing first lookups.
// The size is published last, after the names are in place.
constinit std::atomic<int32_t> gSize{kNotLookedFor};
constinit std::mutex gLoadMutex;
constinit std::vector<std::string> gNames;

const std::string kNoName;

bool isTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimControls(std::string_view text) {
  while (!text.empty() && isTrimmed(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isTrimmed(text.back()))
    text.remove_suffix(1);
  return text;
}

// Calls `onLine` for every line. Files edited on any system are accepted, so a
// line ends at CR LF, LF or a lone CR; a final line end opens no further line.
template <typename OnLine> void forEachLine(std::string_view content, OnLine onLine) {
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      onLine(content.substr(start));
      return;
    }
    onLine(content.substr(start, end - start));
    start = end + 1;
    if (content[end] == '\r' && start < content.size() && content[start] == '\n')
      ++start;
  }
}

// "name port/protocol [aliases]". Only a blank separates name and port, so a
// tab-only line is skipped. Returns without a change for lines of another shape.
void parseLine(std::string_view line, std::vector<std::string> &names) {
  if (line.size() < 5 || line.front() == '#')
    return;
  size_t blank = line.find(' ');
  size_t slash = line.find('/');
  if (blank == std::string_view::npos || blank == 0 || slash == std::string_view::npos ||
      slash < blank)
    return;
  int64_t port = LeadingInteger(trimControls(line.substr(blank, slash - blank)));
  if (port >= 1 && port < kPortNamesSlots)
    names[size_t(port)] = std::string(line.substr(0, blank));
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

// The parsed file, or an empty vector when it is missing, unreadable or empty.
// None of these is reported: the built-in names simply apply.
std::vector<std::string> readPortNamesFile() {
  try {
    // Looked for without a folder, i.e. in the current folder of the process.
    std::error_code error;
    if (!std::filesystem::exists(kFileName, error))
      return {};
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(kFileName, "rb"));
    if (!file)
      return {};
    std::string content;
    char buffer[16384];
    while (size_t count = std::fread(buffer, 1, sizeof buffer, file.get()))
      content.append(buffer, count);
    if (std::ferror(file.get()))
      return {};
    return ParsePortNames(content);
  } catch (const std::exception &) {
    return {};
  }
}

} // namespace

std::vector<std::string> ParsePortNames(std::string_view fileContent) {
  std::vector<std::string> names;
  forEachLine(fileContent, [&names](std::string_view line) {
    if (names.empty())
      names.resize(size_t(kPortNamesSlots));
    parseLine(line, names);
  });
  return names;
}

void LoadPortNames() {
  if (gSize.load(std::memory_order_acquire) != kNotLookedFor)
    return;
  std::lock_guard lock(gLoadMutex);
  if (gSize.load(std::memory_order_relaxed) != kNotLookedFor)
    return;
  // Whatever the outcome, the file is not looked for again in this run.
  gNames = readPortNamesFile();
  gSize.store(gNames.empty() ? 0 : kPortNamesSlots, std::memory_order_release);
}

int32_t PortNamesSize() {
  return gSize.load(std::memory_order_acquire);
}

const std::string &FilePortName(int32_t port) {
  LoadPortNames();
  if (port > 0 && port < gSize.load(std::memory_order_acquire))
    return gNames[size_t(port)];
  return kNoName;
}

void ResetPortNamesForTesting() {
  std::lock_guard lock(gLoadMutex);
  gNames.clear();
  gNames.shrink_to_fit();
  gSize.store(kNotLookedFor, std::memory_order_release);
}
