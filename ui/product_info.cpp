#include "ui/product_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

// A build that forgot the version would show a made-up one in the About box.
#if !defined(VANTOR_VERSION_MAJOR) || !defined(VANTOR_VERSION_MINOR) ||                            \
    !defined(VANTOR_VERSION_PATCH) || !defined(VANTOR_BUILD_NUMBER)
#error "the build must define VANTOR_VERSION_MAJOR, _MINOR, _PATCH and VANTOR_BUILD_NUMBER"
#endif

namespace {

constexpr std::string_view kFileDescription = "Desktop IPv4 traffic monitor";

std::string text(std::string_view view) {
  return std::string(view);
}

std::string computerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

std::string executablePath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

// A value of a shell-like assignment: quoted with "..." (where a backslash
// takes the next character as it is) or '...', or bare up to the line's end.
std::string unquote(std::string_view value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.remove_suffix(1);
  if (value.empty())
    return {};
  const char quote = value.front();
  if (quote != '"' && quote != '\'')
    return text(value);
  std::string result;
  for (size_t i = 1; i < value.size() && value[i] != quote; ++i) {
    if (quote == '"' && value[i] == '\\' && i + 1 < value.size())
      ++i;
    result += value[i];
  }
  return result;
}

} // namespace

std::string VisitWebSiteLine() {
  return "Click the About button, or visit " + text(kWebAddress) + " for news and help.";
}

TFileVersion CompiledFileVersion() {
  return {VANTOR_VERSION_MAJOR, VANTOR_VERSION_MINOR, VANTOR_VERSION_PATCH, VANTOR_BUILD_NUMBER};
}

TVersionValues CompiledVersionValues() {
  const TFileVersion version = CompiledFileVersion();
  const std::string product = std::to_string(version.Major) + "." + std::to_string(version.Minor) +
                              "." + std::to_string(version.Release);
  TVersionValues values;
  values.ProductName = text(kProductName);
  values.ProductVersion = product;
  values.FileVersion = product + "." + std::to_string(version.Build);
  values.FileDescription = text(kFileDescription);
  values.CompanyName = text(kMakerName);
  values.LegalCopyright = "Copyright (c) " + text(kCopyrightYear) + " " + text(kMakerName);
  values.LegalTrademarks = "";
  return values;
}

std::string PrettyNameOf(std::string_view osRelease) {
  constexpr std::string_view kKey = "PRETTY_NAME=";
  std::string found;
  std::istringstream lines{std::string(osRelease)};
  std::string line;
  while (std::getline(lines, line)) {
    std::string_view rest = line;
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
      rest.remove_prefix(1);
    // A later assignment overrides an earlier one, as when a shell sources it.
    if (rest.starts_with(kKey))
      found = unquote(rest.substr(kKey.size()));
  }
  return found;
}

std::string OsNameFrom(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream content;
    content << in.rdbuf();
    std::string name = PrettyNameOf(content.str());
    if (!name.empty())
      return name;
  }
  utsname system{};
  if (uname(&system) != 0)
    return {};
  return std::string(system.sysname) + " " + system.release;
}

TEnvironmentValues ReadEnvironmentValues() {
  return {computerName(), OsNameFrom("/etc/os-release"), executablePath()};
}
