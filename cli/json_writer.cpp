#include "cli/json_writer.h"

#include <cassert>
#include <charconv>

namespace {

// One step of UTF-8 decoding (Unicode 15, table 3-7): a code point and the
// bytes it took, or -1 and the length of the longest start of a valid
// sequence (at least one byte), which becomes one U+FFFD as Unicode
// recommends ("maximal subpart").
struct Utf8Step {
  int32_t codePoint;
  size_t length;
};

Utf8Step decodeUtf8(std::string_view text, size_t pos) {
  const auto byteAt = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byteAt(pos);
  if (lead < 0x80)
    return {lead, 1};
  size_t trail;
  int32_t value;
  uint8_t low = 0x80, high = 0xBF; // range of the first trail byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0F;
    low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
  } else {
    return {-1, 1};
  }
  for (size_t i = 1; i <= trail; ++i) {
    if (pos + i >= text.size() || byteAt(pos + i) < low || byteAt(pos + i) > high)
      return {-1, i};
    value = value << 6 | (byteAt(pos + i) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {value, trail + 1};
}

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
    const Utf8Step step = decodeUtf8(value, pos);
    const char c = value[pos];
    if (step.codePoint < 0) {
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
    } else if (step.codePoint < 0x20) {
      text_ += "\\u00";
      text_ += kHex[step.codePoint >> 4];
      text_ += kHex[step.codePoint & 0xF];
    } else {
      text_.append(value.substr(pos, step.length));
    }
    pos += step.length;
  }
  text_ += '"';
}
