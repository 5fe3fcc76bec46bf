#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// A new, empty folder "/tmp/vantor-<tag>-XXXXXX" for one test, removed with
// everything in it when the object goes, also after the test made it
// read-only.
class TempFolder {
public:
  explicit TempFolder(const std::string &tag) {
    std::string pattern = "/tmp/vantor-" + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("cannot create a folder from " + pattern);
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  // Without a trailing "/".
  const std::string &path() const { return path_; }

private:
  std::string path_;
};
