#include "pipeline/rtf_writer.h"

#include "packet/utf8.h"
#include "settings/atomic_file.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

// Large enough that a write call per piece costs nothing next to formatting.
constexpr size_t kPieceSize = 256 * 1024;

bool isControl(int32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

void appendNumber(std::string &out, int64_t value) {
  out += std::to_string(value);
}

// \uN takes a signed 16-bit N; the "?" after it is what readers without
// Unicode show (\uc1 says it is one character).
void appendUtf16Unit(std::string &out, uint32_t unit) {
  out += "\\u";
  appendNumber(out, int16_t(uint16_t(unit)));
  out += '?';
}

void appendCodePoint(std::string &out, int32_t codePoint) {
  if (codePoint < 0x10000) {
    appendUtf16Unit(out, uint32_t(codePoint));
    return;
  }
  const uint32_t offset = uint32_t(codePoint) - 0x10000;
  appendUtf16Unit(out, 0xD800 + (offset >> 10));
  appendUtf16Unit(out, 0xDC00 + (offset & 0x3FF));
}

void appendByte(std::string &out, uint8_t byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\'";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

void appendText(std::string &out, std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += c;
      ++pos;
      continue;
    }
    if (c == '\t') {
      out += "\\tab ";
      ++pos;
      continue;
    }
    const TUtf8Step step = DecodeUtf8Step(text, pos);
    if (step.CodePoint < 0) {
      for (size_t i = 0; i < step.Length; ++i)
        appendByte(out, uint8_t(text[pos + i]));
    } else if (step.CodePoint < 0x80) {
      if (!isControl(step.CodePoint))
        out += c;
    } else if (!isControl(step.CodePoint)) {
      appendCodePoint(out, step.CodePoint);
    }
    pos += step.Length;
  }
}

// The colours the lines use, in order of first use; \cfN counts from 1
// because entry 0 of an RTF colour table is the reader's automatic colour.
class ColourTable {
public:
  explicit ColourTable(const TStyledLineSource &lines) {
    const size_t count = lines.LineCount();
    for (size_t i = 0; i < count; ++i) {
      const uint32_t colour = lines.Line(i).Attributes.Colour;
      if (i == 0 || colour != colours_.back())
        add(colour);
    }
  }
  size_t indexOf(uint32_t colour) const { return index_.at(colour); }
  void write(std::string &out) const {
    out += "{\\colortbl ;";
    for (uint32_t colour : colours_) {
      out += "\\red";
      appendNumber(out, colour & 0xFF);
      out += "\\green";
      appendNumber(out, (colour >> 8) & 0xFF);
      out += "\\blue";
      appendNumber(out, (colour >> 16) & 0xFF);
      out += ';';
    }
    out += "}\n";
  }

private:
  void add(uint32_t colour) {
    if (index_.emplace(colour, colours_.size() + 1).second)
      colours_.push_back(colour);
  }
  std::vector<uint32_t> colours_;
  std::unordered_map<uint32_t, size_t> index_;
};

// The control words that take the reader from `before` to `after`.
void appendSwitches(std::string &out, const TTextAttributes *before, const TTextAttributes &after,
                    const ColourTable &colours) {
  const size_t start = out.size();
  const TTextAttributes plain;
  const TTextAttributes &from = before ? *before : plain;
  if (after.Bold != from.Bold)
    out += after.Bold ? "\\b" : "\\b0";
  if (after.Italic != from.Italic)
    out += after.Italic ? "\\i" : "\\i0";
  if (after.Underline != from.Underline)
    out += after.Underline ? "\\ul" : "\\ulnone";
  if (!before || after.Colour != before->Colour) {
    out += "\\cf";
    appendNumber(out, int64_t(colours.indexOf(after.Colour)));
  }
  if (out.size() != start)
    out += ' '; // ends the last control word; readers drop it
}

} // namespace

void WriteRtf(const TStyledLineSource &lines, const std::function<void(std::string_view)> &out) {
  const ColourTable colours(lines);
  std::string piece;
  piece.reserve(kPieceSize + 4096);
  piece += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
           "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\n";
  colours.write(piece);
  piece += "\\pard\\plain\\f0\\fs18\n";

  TTextAttributes previous;
  const size_t count = lines.LineCount();
  for (size_t i = 0; i < count; ++i) {
    const TStyledLine line = lines.Line(i);
    appendSwitches(piece, i == 0 ? nullptr : &previous, line.Attributes, colours);
    previous = line.Attributes;
    appendText(piece, line.Text);
    piece += "\\par\n";
    if (piece.size() >= kPieceSize) {
      out(piece);
      piece.clear();
    }
  }
  piece += "}\n";
  out(piece);
}

bool SaveRtf(const std::string &path, const TStyledLineSource &lines, std::string &error) {
  return WriteFileAtomically(
      path,
      [&](const TFileWriter &write) {
        // WriteRtf cannot be stopped; after a failed write the rest is only
        // formatted, never written, and the failure is reported.
        bool writing = true;
        WriteRtf(lines, [&](std::string_view piece) {
          if (writing)
            writing = write(piece);
        });
      },
      error);
}
