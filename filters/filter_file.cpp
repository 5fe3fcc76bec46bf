#include "filters/filter_file.h"

#include "filters/handler_table.h"
#include "packet/number_parse.h"
#include "settings/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr const char *kFormatMarker = "version1";

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Hands out the file's lines one at a time. Past the end every line reads as
// empty, which the caller turns into a conversion error for numbers and an
// empty name for texts.
class LineReader {
public:
  explicit LineReader(FILE *file) : file_(file) {}
  ~LineReader() { std::free(buffer_); }
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  std::string next() {
    if (atEnd_)
      return {};
    errno = 0;
    ssize_t length = getline(&buffer_, &capacity_, file_);
    if (length < 0) {
      if (std::ferror(file_))
        throw EFilterFileError(std::strerror(errno != 0 ? errno : EIO));
      atEnd_ = true;
      return {};
    }
    std::string line(buffer_, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
    }
    return line;
  }

  int32_t nextNumber() {
    std::string line = next();
    std::optional<int32_t> value = StrictInteger(line);
    if (!value)
      throw EFilterFileError("'" + line + "' is not a valid integer value");
    return *value;
  }

private:
  FILE *file_;
  char *buffer_ = nullptr;
  size_t capacity_ = 0;
  bool atEnd_ = false;
};

void appendLine(std::string &text, std::string_view line) {
  text += line;
  text += "\r\n";
}

void appendNumber(std::string &text, long long value) {
  appendLine(text, std::to_string(value));
}

std::string filterFileText(const TIPFilter &filter) {
  std::string text;
  appendLine(text, kFormatMarker);
  appendLine(text, filter.Name);
  appendNumber(text, filter.AllProto);
  for (uint8_t proto : filter.Protos)
    appendNumber(text, proto);
  for (uint8_t type : filter.IcmpTypes)
    appendNumber(text, type);
  appendLine(text, filter.SIP);
  appendLine(text, filter.DIP);
  appendNumber(text, filter.SPort);
  appendNumber(text, filter.DPort);
  // The file holds the return switch before the empty-payload switch.
  appendNumber(text, filter.ReturnPkg);
  appendNumber(text, filter.IgZero);
  appendNumber(text, filter.ProcCount);
  int rows = std::clamp<int32_t>(filter.ProcCount, 0, kMaxProcsPerFilter);
  for (int i = 0; i < rows; ++i) {
    appendLine(text, filter.Procs[i].DLLName);
    appendLine(text, filter.Procs[i].ProcName);
  }
  return text;
}

} // namespace

void LoadFilter(TIPFilter &filter, const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    throw EFilterFileError("File Not Found");
  FileHandle file(std::fopen(path.c_str(), "rbe"));
  if (!file)
    throw EFilterFileError(std::strerror(errno));
  LineReader lines(file.get());
  if (lines.next() != kFormatMarker)
    throw EFilterFileError("File Not Support");

  // Each value goes into the record as soon as it is read, so a failure part
  // way leaves what came before it.
  filter.Name = lines.next();
  filter.AllProto = lines.nextNumber();
  for (uint8_t &proto : filter.Protos)
    proto = static_cast<uint8_t>(lines.nextNumber());
  for (uint8_t &type : filter.IcmpTypes)
    type = static_cast<uint8_t>(lines.nextNumber());
  filter.SIP = lines.next();
  filter.DIP = lines.next();
  filter.SPort = lines.nextNumber();
  filter.DPort = lines.nextNumber();
  filter.ReturnPkg = lines.nextNumber();
  filter.IgZero = lines.nextNumber();
  // The chain has room for 64 rows; rows written beyond that are ignored.
  filter.ProcCount = std::min<int32_t>(lines.nextNumber(), kMaxProcsPerFilter);
  int rows = std::max<int32_t>(filter.ProcCount, 0);
  for (int i = 0; i < rows; ++i) {
    TCustFilters &row = filter.Procs[i];
    row.DLLName = lines.next();
    row.ProcName = lines.next();
    int32_t index = -1;
    row.Proc = FindFilterProc(row.DLLName, row.ProcName, index);
    // A row is a copy of its table row; one whose module is gone keeps its
    // names so that saving the filter again does not lose them.
    row.Desc = index >= 0 ? FilterProcs[index].Desc : std::string();
  }
  for (int i = rows; i < kMaxProcsPerFilter; ++i)
    filter.Procs[i] = TCustFilters{};
}

void SaveFilter(const TIPFilter &filter, const std::string &folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/')
    path += '/';
  path += filter.Name + ".flt";
  std::string error;
  if (!WriteFileAtomically(path, filterFileText(filter), error))
    throw EFilterFileError(error);
}
