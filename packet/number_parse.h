#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Reads the integer at the start of `text` the lenient way addresses and
// "ports.txt" are read: leading blanks skipped, an optional sign, then digits
// up to the first other character (hexadecimal after "$" or "0x"). Text that
// does not start with a digit reads as 0. The value saturates instead of
// overflowing.
int64_t LeadingInteger(std::string_view text) noexcept;

// The strict conversion of the settings and filter files: the whole text
// (surrounding blanks allowed) must be one integer that fits in 32 bits;
// decimal, or hexadecimal after "$", "x" or "0x" (either case).
std::optional<int32_t> StrictInteger(std::string_view text) noexcept;
