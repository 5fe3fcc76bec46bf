#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The whole content of a file, bytes as they are.
inline std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The names in a folder, sorted: shows a temporary file left behind.
inline std::vector<std::string> FolderNames(const std::string &folder) {
  std::vector<std::string> result;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    result.push_back(entry.path().filename().string());
  std::sort(result.begin(), result.end());
  return result;
}
