#pragma once

// A small RTF reader for tests: enough of RTF 1.9 to read the Data View's
// files back into lines with their character formatting. Groups, the font
// and colour tables, \* destinations, \b \i \ul \ulnone \cf \f \fs \plain,
// \par, \tab, \uN with its \uc fallback characters (surrogate pairs joined),
// \'hh and the escaped \ { }. Anything else is skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TRtfLine {
  std::string Text; // UTF-8 from \uN; a \'hh byte is kept as that byte
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  int ColourIndex = 0; // \cfN as written; 0 is the reader's automatic colour
  uint32_t Colour = 0; // resolved through the colour table: blue * 65536 + green * 256 + red
  std::string Font;    // name from the font table
  int HalfPoints = 24; // \fsN
};

struct TRtfDocument {
  bool Ok = false;
  std::string Error; // why Ok is false
  std::vector<TRtfLine> Lines;
  std::vector<uint32_t> Colours; // the colour table, entry 0 included
  std::vector<std::pair<int, std::string>> Fonts;
};

class TRtfReader {
public:
  explicit TRtfReader(std::string_view rtf) : in_(rtf) {}

  TRtfDocument Read() {
    if (!in_.starts_with("{\\rtf"))
      return fail("no {\\rtf header");
    while (pos_ < in_.size()) {
      const char c = in_[pos_++];
      if (c == '{') {
        endFallback();
        stack_.push_back(state_);
      } else if (c == '}') {
        endFallback();
        if (!closeGroup())
          return doc_;
        if (stack_.empty())
          return finish();
      } else if (c == '\\') {
        if (!escape())
          return doc_;
      } else if (c != '\r' && c != '\n') {
        text(c);
      }
    }
    return fail("unbalanced braces: the document never closes");
  }

private:
  enum class Destination { Text, FontTable, ColourTable, Skip };

  struct GroupState {
    bool bold = false, italic = false, underline = false;
    int colourIndex = 0;
    int font = 0;
    int halfPoints = 24;
    int fallbackLength = 1; // \uc
    Destination destination = Destination::Text;
  };

  static void appendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | cp >> 6);
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | cp >> 12);
      out += char(0x80 | (cp >> 6 & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | cp >> 18);
      out += char(0x80 | (cp >> 12 & 0x3F));
      out += char(0x80 | (cp >> 6 & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  }

  TRtfDocument fail(std::string why) {
    doc_.Ok = false;
    doc_.Error = std::move(why) + " at offset " + std::to_string(pos_);
    return doc_;
  }

  TRtfDocument finish() {
    for (; pos_ < in_.size(); ++pos_)
      if (in_[pos_] != '\r' && in_[pos_] != '\n' && in_[pos_] != ' ')
        return fail("text after the closing brace");
    if (!line_.empty())
      endLine();
    for (TRtfLine &line : doc_.Lines) {
      if (line.ColourIndex < 0 || size_t(line.ColourIndex) >= doc_.Colours.size()) {
        if (line.ColourIndex != 0 || !doc_.Colours.empty())
          return fail("\\cf" + std::to_string(line.ColourIndex) + " outside the colour table");
      } else {
        line.Colour = doc_.Colours[size_t(line.ColourIndex)];
      }
    }
    doc_.Ok = true;
    return doc_;
  }

  bool closeGroup() {
    if (stack_.empty()) {
      fail("unbalanced braces: '}' without '{'");
      return false;
    }
    if (state_.destination == Destination::FontTable && !fontName_.empty())
      endFont();
    state_ = stack_.back();
    stack_.pop_back();
    return true;
  }

  // After "\": a control symbol or a control word.
  bool escape() {
    if (pos_ >= in_.size()) {
      fail("document ends in a backslash");
      return false;
    }
    const char c = in_[pos_];
    if (c == '\'') {
      if (pos_ + 2 >= in_.size() || hexValue(in_[pos_ + 1]) < 0 || hexValue(in_[pos_ + 2]) < 0) {
        fail("\\' without two hex digits");
        return false;
      }
      text(char(hexValue(in_[pos_ + 1]) * 16 + hexValue(in_[pos_ + 2])));
      pos_ += 3;
      return true;
    }
    if (!isLetter(c)) {
      ++pos_;
      if (c == '\\' || c == '{' || c == '}')
        text(c);
      else if (c == '*')
        state_.destination = Destination::Skip;
      else if (c == '~')
        unicode(0xA0);
      else if (c == '\r' || c == '\n')
        controlWord("par", std::nullopt);
      return true;
    }
    const size_t start = pos_;
    while (pos_ < in_.size() && isLetter(in_[pos_]))
      ++pos_;
    const std::string word(in_.substr(start, pos_ - start));
    std::optional<int> parameter;
    const size_t numberStart = pos_;
    if (pos_ < in_.size() && in_[pos_] == '-')
      ++pos_;
    long value = 0;
    bool digits = false;
    while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9') {
      value = value * 10 + (in_[pos_++] - '0');
      digits = true;
      if (value > 1000000000) {
        fail("parameter out of range");
        return false;
      }
    }
    if (digits)
      parameter = in_[numberStart] == '-' ? -int(value) : int(value);
    else
      pos_ = numberStart;
    if (pos_ < in_.size() && in_[pos_] == ' ')
      ++pos_;
    controlWord(word, parameter);
    return true;
  }

  static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  void controlWord(const std::string &word, std::optional<int> parameter) {
    if (word != "u")
      endFallback();
    const bool on = !parameter || *parameter != 0;
    GroupState &s = state_;
    if (word == "fonttbl") {
      s.destination = Destination::FontTable;
    } else if (word == "colortbl") {
      s.destination = Destination::ColourTable;
      colour_ = 0;
    } else if (word == "info" || word == "stylesheet" || word == "pict" || word == "header" ||
               word == "footer") {
      s.destination = Destination::Skip;
    } else if (s.destination == Destination::ColourTable) {
      const uint32_t part = uint32_t(parameter.value_or(0)) & 0xFF;
      if (word == "red")
        colour_ = (colour_ & 0xFFFF00) | part;
      else if (word == "green")
        colour_ = (colour_ & 0xFF00FF) | part << 8;
      else if (word == "blue")
        colour_ = (colour_ & 0x00FFFF) | part << 16;
    } else if (s.destination == Destination::FontTable) {
      if (word == "f")
        fontIndex_ = parameter.value_or(0);
    } else if (word == "par") {
      endLine();
    } else if (word == "plain") {
      s.bold = s.italic = s.underline = false;
      s.colourIndex = 0;
      s.font = defaultFont_;
      s.halfPoints = 24;
    } else if (word == "deff") {
      defaultFont_ = parameter.value_or(0);
      s.font = defaultFont_;
    } else if (word == "b") {
      s.bold = on;
    } else if (word == "i") {
      s.italic = on;
    } else if (word == "ul") {
      s.underline = on;
    } else if (word == "ulnone") {
      s.underline = false;
    } else if (word == "cf") {
      s.colourIndex = parameter.value_or(0);
    } else if (word == "f") {
      s.font = parameter.value_or(0);
    } else if (word == "fs") {
      s.halfPoints = parameter.value_or(24);
    } else if (word == "uc") {
      s.fallbackLength = parameter.value_or(1);
    } else if (word == "tab") {
      text('\t');
    } else if (word == "u" && parameter) {
      unicode(uint16_t(*parameter));
      toSkip_ = s.fallbackLength;
    }
  }

  void unicode(uint32_t unit) {
    if (state_.destination != Destination::Text)
      return;
    if (unit >= 0xDC00 && unit <= 0xDFFF && highSurrogate_) {
      appendUtf8(line_, 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
      highSurrogate_ = 0;
      return;
    }
    dropLoneSurrogate();
    if (unit >= 0xD800 && unit <= 0xDBFF)
      highSurrogate_ = unit;
    else if (unit >= 0xDC00 && unit <= 0xDFFF)
      appendUtf8(line_, 0xFFFD);
    else
      appendUtf8(line_, unit);
  }

  void dropLoneSurrogate() {
    if (highSurrogate_)
      appendUtf8(line_, 0xFFFD);
    highSurrogate_ = 0;
  }

  // The fallback characters of \uN stop at the next group or control word.
  void endFallback() { toSkip_ = 0; }

  void text(char c) {
    if (toSkip_ > 0) {
      --toSkip_;
      return;
    }
    switch (state_.destination) {
    case Destination::Text:
      dropLoneSurrogate();
      line_ += c;
      break;
    case Destination::FontTable:
      if (c == ';')
        endFont();
      else
        fontName_ += c;
      break;
    case Destination::ColourTable:
      if (c == ';') {
        doc_.Colours.push_back(colour_);
        colour_ = 0;
      }
      break;
    case Destination::Skip:
      break;
    }
  }

  void endFont() {
    doc_.Fonts.emplace_back(fontIndex_, fontName_);
    fontName_.clear();
  }

  void endLine() {
    dropLoneSurrogate();
    TRtfLine line;
    line.Text = std::move(line_);
    line_.clear();
    line.Bold = state_.bold;
    line.Italic = state_.italic;
    line.Underline = state_.underline;
    line.ColourIndex = state_.colourIndex;
    line.HalfPoints = state_.halfPoints;
    for (const auto &[index, name] : doc_.Fonts)
      if (index == state_.font)
        line.Font = name;
    doc_.Lines.push_back(std::move(line));
  }

  std::string_view in_;
  size_t pos_ = 0;
  std::vector<GroupState> stack_;
  GroupState state_;
  TRtfDocument doc_;
  std::string line_;
  uint32_t highSurrogate_ = 0;
  int toSkip_ = 0;
  uint32_t colour_ = 0;
  int fontIndex_ = 0;
  int defaultFont_ = 0;
  std::string fontName_;
};

// Reads an RTF document; Ok is false (with Error) for one that is not
// well-formed: unbalanced braces, a broken escape, a colour index the table
// does not hold.
inline TRtfDocument ReadRtf(std::string_view rtf) {
  return TRtfReader(rtf).Read();
}
