// Any items, as plug-ins and packets can write them (the first byte of the
// input separates the items): the view takes them all, and its RTF is 7-bit
// text with balanced braces that reads back as the same lines with the same
// attributes.
#include "pipeline/data_view_document.h"
#include "pipeline/rtf_writer.h"
#include "tests/support/rtf_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Braces outside escapes never go below zero and end at zero.
bool plainAndBalanced(std::string_view rtf) {
  long depth = 0;
  for (size_t i = 0; i < rtf.size(); ++i) {
    const unsigned char c = rtf[i];
    if (c != '\n' && (c < 0x20 || c >= 0x7F))
      return false;
    if (c == '\\')
      ++i; // the escaped character, if a symbol, is no brace
    else if (c == '{')
      ++depth;
    else if (c == '}' && --depth < 0)
      return false;
  }
  return depth == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const char separator = input[0];
  TDataViewDocument doc;
  size_t start = 1;
  while (start <= input.size()) {
    size_t end = input.find(separator, start);
    if (end == std::string_view::npos)
      end = input.size();
    doc.AppendItem(input.substr(start, end - start));
    start = end + 1;
  }

  std::string rtf;
  WriteRtf(doc, [&](std::string_view piece) { rtf.append(piece); });
  if (!plainAndBalanced(rtf))
    __builtin_trap();

  const TRtfDocument read = ReadRtf(rtf);
  if (!read.Ok || read.Lines.size() != doc.LineCount())
    __builtin_trap();
  for (size_t i = 0; i < doc.LineCount(); ++i) {
    const TStyledLine line = doc.Line(i);
    const TRtfLine &back = read.Lines[i];
    const TTextAttributes attributes{back.Bold, back.Italic, back.Underline, back.Colour};
    // Only control characters are dropped, so the text never grows.
    if (!(attributes == line.Attributes) || back.Text.size() > line.Text.size())
      __builtin_trap();
  }
  return 0;
}
