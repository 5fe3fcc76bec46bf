#pragma once

#include <string>
#include <string_view>

// Removes blanks and control characters (codes 0 to 32) from both ends: the
// trimming of addresses, masks and key=value files alike.
inline std::string_view TrimControl(std::string_view text) {
  const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && isSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back()))
    text.remove_suffix(1);
  return text;
}
