#include "settings/file_config.h"

#include "packet/number_parse.h"
#include "packet/text_trim.h"
#include "settings/atomic_file.h"

#include <unicode/stringoptions.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kCtrlZ = 26;
constexpr std::string_view kMemoryOnlyPrefix = "_sys_";

bool isAscii(std::string_view text) {
  // Eight bytes at a time: the lookup scans every key of the store per call.
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    high |= word;
  }
  for (; i < text.size(); ++i)
    high |= static_cast<unsigned char>(text[i]);
  return (high & 0x8080808080808080ull) == 0;
}

char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool equalFoldingAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && foldAscii(a[i]) != foldAscii(b[i]))
      return false;
  return true;
}

bool isValidUtf8(std::string_view text) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0)
      return false;
  }
  return true;
}

// Keys that are not ASCII are compared with Unicode case folding ("ÄBC"
// matches "äbc", "STRASSE" matches "straße"). Bytes that are not UTF-8 (a
// file in a legacy code page) would all turn into U+FFFD and match each
// other, so such keys fall back to folding the ASCII letters only.
bool keysMatchSlow(std::string_view a, std::string_view b) {
  if (!isValidUtf8(a) || !isValidUtf8(b))
    return equalFoldingAscii(a, b);
  icu::UnicodeString left =
      icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), int32_t(a.size())));
  icu::UnicodeString right =
      icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), int32_t(b.size())));
  return left.caseCompare(right, U_FOLD_CASE_DEFAULT) == 0;
}

// `queryAscii` is computed once per lookup. Two ASCII keys of different
// lengths never match, so the common miss costs a length test and, for the
// stored key, one word-wise scan for non-ASCII bytes.
bool keysMatch(std::string_view query, bool queryAscii, std::string_view stored) {
  if (queryAscii && stored.size() == query.size()) {
    for (size_t i = 0; i < query.size(); ++i) {
      const char a = query[i], b = stored[i];
      if (static_cast<unsigned char>(b) >= 0x80)
        return keysMatchSlow(query, stored);
      if (a != b && foldAscii(a) != foldAscii(b))
        return !isAscii(stored.substr(i)) && keysMatchSlow(query, stored);
    }
    return true;
  }
  if (queryAscii && isAscii(stored))
    return false;
  return keysMatchSlow(query, stored);
}

// The whole content of an open file; false on a read error, with the bytes
// read before it in `content`.
bool readAll(int fd, std::string &content) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0)
      return true;
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    content.append(buffer, static_cast<size_t>(got));
  }
}

} // namespace

int TFileConfig::Load() {
  struct stat info {};
  if (FileName.empty() || stat(FileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return -1;
  Keys.clear();
  Values.clear();
  int fd = open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  std::string content;
  bool complete = readAll(fd, content);
  complete = close(fd) == 0 && complete;
  if (!complete) {
    // Keep the lines that were read whole before the error, as a line-by-line
    // reader would have; a partial last line is not trusted.
    size_t lastEnd = content.rfind('\n');
    content.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  LoadFromText(content);
  return complete ? 0 : -1;
}

void TFileConfig::LoadFromText(std::string_view text) {
  Keys.clear();
  Values.clear();
  if (size_t end = text.find(kCtrlZ); end != std::string_view::npos)
    text = text.substr(0, end);
  std::string line;
  while (!text.empty()) {
    size_t lineEnd = text.find('\n');
    std::string_view raw = text.substr(0, lineEnd);
    text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
    // A CR before the LF and a CR on its own are both dropped from the line.
    line.clear();
    for (char c : raw)
      if (c != '\r')
        line += c;
    size_t equals = line.find('=');
    if (equals == std::string::npos)
      continue;
    std::string_view whole(line);
    Keys.emplace_back(TrimControl(whole.substr(0, equals)));
    Values.emplace_back(TrimControl(whole.substr(equals + 1)));
  }
}

std::string TFileConfig::SaveText() const {
  std::string text;
  for (size_t i = 0; i < Keys.size(); ++i) {
    // The "=" follows the key, so a line begins with "_sys_" exactly when the
    // key does.
    if (Keys[i].starts_with(kMemoryOnlyPrefix))
      continue;
    text += Keys[i];
    text += '=';
    text += Values[i];
    text += "\r\n";
  }
  return text;
}

int TFileConfig::Save() {
  if (FileName.empty())
    return -1;
  std::string error;
  return WriteFileAtomically(FileName, SaveText(), error) ? 0 : -1;
}

int32_t TFileConfig::indexOf(const std::string &key) const {
  const bool queryAscii = isAscii(key);
  for (size_t i = 0; i < Keys.size(); ++i)
    if (keysMatch(key, queryAscii, Keys[i]))
      return static_cast<int32_t>(i);
  return -1;
}

std::string TFileConfig::ReadString(const std::string &key, const std::string &defaultValue) {
  int32_t i = indexOf(key);
  if (i >= 0)
    return Values[size_t(i)];
  Keys.push_back(key);
  Values.push_back(defaultValue);
  return defaultValue;
}

int32_t TFileConfig::ReadInteger(const std::string &key, int32_t defaultValue) {
  int32_t i = indexOf(key);
  if (i < 0) {
    Keys.push_back(key);
    Values.push_back(std::to_string(defaultValue));
    return defaultValue;
  }
  if (std::optional<int32_t> value = StrictInteger(Values[size_t(i)]))
    return *value;
  // Repaired in memory, so the next save writes a value that reads back.
  Values[size_t(i)] = std::to_string(defaultValue);
  return defaultValue;
}

int TFileConfig::WriteString(const std::string &key, const std::string &value) {
  int32_t i = indexOf(key);
  if (i >= 0) {
    Values[size_t(i)] = value;
  } else {
    Keys.push_back(key);
    Values.push_back(value);
  }
  return 0;
}
