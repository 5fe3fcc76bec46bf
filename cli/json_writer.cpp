#include "cli/json_writer.h"

#include "packet/utf8.h"

#include <cassert>
#include <charconv>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

} // namespace

void TJsonWriter::BeginObject() {
  open('{', true);
}

void TJsonWriter::EndObject() {
  close('}', true);
}

void TJsonWriter::BeginArray() {
  open('[', false);
}

void TJsonWriter::EndArray() {
  close(']', false);
}

void TJsonWriter::Key(std::string_view key) {
  assert(!levels_.empty() && levels_.back().object && !afterKey_);
  Level &level = levels_.back();
  if (level.members++ > 0)
    text_ += ',';
  newLine();
  appendString(key);
  text_ += ": ";
  afterKey_ = true;
}

void TJsonWriter::String(std::string_view value) {
  beginValue();
  appendString(value);
}

void TJsonWriter::Number(int64_t value) {
  beginValue();
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text_.append(digits, result.ptr);
}

void TJsonWriter::beginValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) {
    // Several top-level values: one per line, as JSON Lines readers take them.
    if (!text_.empty())
      text_ += '\n';
    return;
  }
  assert(!levels_.back().object);
  if (levels_.back().members++ > 0)
    text_ += ',';
  newLine();
}

void TJsonWriter::open(char bracket, bool object) {
  beginValue();
  text_ += bracket;
  levels_.push_back({object, 0});
}

void TJsonWriter::close(char bracket, bool object) {
  assert(!levels_.empty() && levels_.back().object == object && !afterKey_);
  (void)object;
  const size_t members = levels_.back().members;
  levels_.pop_back();
  // An empty container stays on one line: "{}", "[]".
  if (members > 0)
    newLine();
  text_ += bracket;
}

void TJsonWriter::newLine() {
  text_ += '\n';
  text_.append(2 * levels_.size(), ' ');
}

// RFC 8259 section 7: quote, backslash and U+0000..U+001F must be escaped;
// everything else may stay as it is.
void TJsonWriter::appendString(std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  text_ += '"';
  size_t pos = 0;
  while (pos < value.size()) {
    const TUtf8Step step = DecodeUtf8Step(value, pos);
    const char c = value[pos];
    if (step.CodePoint < 0) {
      text_ += kReplacement;
    } else if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += c;
    } else if (c == '\n') {
      text_ += "\\n";
    } else if (c == '\r') {
      text_ += "\\r";
    } else if (c == '\t') {
      text_ += "\\t";
    } else if (step.CodePoint < 0x20) {
      text_ += "\\u00";
      text_ += kHex[step.CodePoint >> 4];
      text_ += kHex[step.CodePoint & 0xF];
    } else {
      text_.append(value.substr(pos, step.Length));
    }
    pos += step.Length;
  }
  text_ += '"';
}
