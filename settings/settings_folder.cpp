#include "settings/settings_folder.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string environmentText(const char *name) {
  const char *value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string homeFolder() {
  std::string home = environmentText("HOME");
  if (!home.empty())
    return home;
  // A session started without HOME (some service managers do that) still
  // has a home folder in the password database.
  if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir)
    return entry->pw_dir;
  return ".";
}

std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
}

bool isFolder(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string SettingsFolder() {
  std::string base = environmentText("APPDATA");
  if (base.empty())
    base = environmentText("XDG_CONFIG_HOME");
  if (base.empty())
    base = withSlash(homeFolder()) + ".config";
  return withSlash(base) + "Vantor/";
}

bool EnsureFolder(const std::string &folder) {
  if (folder.empty())
    return false;
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  // Walk the components from the root so every missing parent is made; the
  // last one holds the user's filters and window settings, so only its owner
  // may look inside.
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    bool last = pos == std::string::npos;
    std::string part = last ? path : path.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST)
      return false;
    if (last)
      break;
  }
  return isFolder(path);
}
