#pragma once

#include "pipeline/data_view_items.h"

#include <functional>
#include <string>
#include <string_view>

// Writes the lines as an RTF document that word processors open with text and
// formatting: "Courier New" at 9 points, bold, italic, underline and colour
// switched only where a line's attributes differ from the line before, one
// paragraph per line. The text is read as UTF-8; bytes that are not UTF-8
// are kept as single bytes, control characters other than tab are left out.
// The output is 7-bit ASCII and reaches `out` in pieces, in order, so a large
// view streams to a file without being built in memory first.
void WriteRtf(const TStyledLineSource &lines, const std::function<void(std::string_view)> &out);

// Replaces the file at `path` with the lines as RTF (see WriteFileAtomically);
// false with the system's reason when it cannot be written.
bool SaveRtf(const std::string &path, const TStyledLineSource &lines, std::string &error);
