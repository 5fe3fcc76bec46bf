#pragma once

#include <string>
#include <string_view>

// Replaces the file at `path` with `content` so that a crash or a full disk
// never leaves it truncated: a temporary file in the same folder is written,
// flushed to disk and renamed over the old one. On failure the old file is
// untouched, the temporary file removed, and the errno text returned in
// `error`.
bool WriteFileAtomically(const std::string &path, std::string_view content, std::string &error);
