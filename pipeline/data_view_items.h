#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The insertion attributes that text appended to the Data View receives.
struct TTextAttributes {
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  uint32_t Colour = 0; // blue * 65536 + green * 256 + red
  bool operator==(const TTextAttributes &) const = default;
};

// One line of the view with the attributes it was appended with.
struct TStyledLine {
  std::string_view Text;
  TTextAttributes Attributes;
};

// Random access to the lines of a view (the command-line tool's document,
// later the window's QTextDocument through an adapter).
class TStyledLineSource {
public:
  virtual ~TStyledLineSource() = default;
  virtual size_t LineCount() const = 0;
  // Text stays valid until the source changes; index < LineCount().
  virtual TStyledLine Line(size_t index) const = 0;
};

// Applies one queued item. "<B>", "<I>" and "<U>" (any letter case, nothing
// else in the item) add that style; styles are never taken away. An item that
// starts with "<C>" sets Colour to the integer in the rest, or is ignored when
// the rest is no integer in 0..16777215 (so a bad tag cannot stall the flush).
// Returns true when the item is text to append, false for any tag.
bool ApplyItem(std::string_view item, TTextAttributes &attributes);

// Calls line(std::string_view) for each line of a text item. CR LF, a lone CR
// and a lone LF each end a line, and what follows the last break is one more
// line (possibly empty): "a\r\n" gives "a" and "", "" gives one empty line.
template <typename F> void ForEachItemLine(std::string_view item, F &&line) {
  size_t start = 0;
  for (size_t i = 0; i < item.size(); ++i) {
    const char c = item[i];
    if (c != '\r' && c != '\n')
      continue;
    line(item.substr(start, i - start));
    if (c == '\r' && i + 1 < item.size() && item[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  line(item.substr(start));
}
