#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Builds JSON text as it is written, so object members keep the order the
// caller gives them. Pretty-printed with two spaces per level; commas are
// placed here. The caller pairs Begin/End and gives each member of an object
// a Key before its value. Strings are read as UTF-8: invalid sequences become
// U+FFFD, so the output is always valid UTF-8 (RFC 8259 section 8.1).
class TJsonWriter {
public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(std::string_view key);
  void String(std::string_view value);
  void Number(int64_t value);
  // The document so far, without a final line end.
  const std::string &Text() const { return text_; }

private:
  struct Level {
    bool object;
    size_t members;
  };

  void beginValue();
  void open(char bracket, bool object);
  void close(char bracket, bool object);
  void newLine();
  void appendString(std::string_view value);

  std::vector<Level> levels_;
  bool afterKey_ = false;
  std::string text_;
};
