#pragma once

#include <functional>
#include <string>
#include <string_view>

// Replaces the file at `path` with `content` so that a crash or a full disk
// never leaves it truncated: a temporary file in the same folder is written,
// flushed to disk and renamed over the old one. On failure the old file is
// untouched, the temporary file removed, and the errno text returned in
// `error`.
bool WriteFileAtomically(const std::string &path, std::string_view content, std::string &error);

// Hands one piece of the content to the file; false once a write has failed,
// after which later pieces are ignored.
using TFileWriter = std::function<bool(std::string_view piece)>;

// The same replacement for content too large to build in memory first:
// `produce` passes the content to `write` piece by piece, in order, and
// should stop early once `write` returns false. If `produce` throws, the
// temporary file is removed and the exception goes on.
bool WriteFileAtomically(const std::string &path,
                         const std::function<void(const TFileWriter &write)> &produce,
                         std::string &error);
