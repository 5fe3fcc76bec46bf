#include "filters/plugin_modules.h"

#include "filters/builtin_handlers.h"
#include "filters/filter_file.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "filters/return_pairs.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::array<TCustFilterDLL, kMaxFilterDLLs> FilterDLLs;
int32_t FilterDLLCount = 0;

namespace {

using GetDLLDesVersionProc = int32_t (*)(char *);
using GetFilterCountProc = int32_t (*)();
using GetFilterDescProc = int32_t (*)(int32_t, char *, char *);

// The two buffers every module call writes into. They are not cleared
// between calls: a module is bound to write the terminating zero itself.
struct ModuleBuffers {
  char desc[VANTOR_PLUGIN_TEXT_SIZE] = {};
  char name[VANTOR_PLUGIN_TEXT_SIZE] = {};
};

std::string bufferText(const char *buffer) {
  return std::string(buffer, strnlen(buffer, VANTOR_PLUGIN_TEXT_SIZE));
}

bool hasPrefix(const std::string &text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool hasSuffix(const std::string &text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// File names of `folder` that start with `prefix` and end with `suffix`, in
// byte order so the result does not depend on the file system.
std::vector<std::string> listFolder(const std::string &folder, std::string_view prefix,
                                    std::string_view suffix) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder.c_str()), closedir);
  if (!dir)
    return names;
  while (const dirent *entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.size() >= prefix.size() + suffix.size() && hasPrefix(name, prefix) &&
        hasSuffix(name, suffix))
      names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool othersMayWrite(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) != 0 || (info.st_mode & S_IWOTH) != 0;
}

std::string folderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// The program holds capture rights, and a plug-in runs inside it with them.
// A library that any local user could have written or swapped in (the file
// itself, or the folder holding it, is writable by everyone) would hand those
// rights to that user, so it is never loaded. A link is judged both where it
// lies and by the file and folder it leads to.
bool trustedPluginFile(const std::string &path) {
  if (othersMayWrite(path) || othersMayWrite(folderOf(path)))
    return false;
  std::unique_ptr<char, void (*)(void *)> real(realpath(path.c_str(), nullptr), std::free);
  if (!real)
    return false;
  return !othersMayWrite(real.get()) && !othersMayWrite(folderOf(real.get()));
}

// dlsym also searches the libraries a module depends on; a handler name must
// be one the module itself exports, not, say, the C library's "strlen".
void *moduleExport(void *handle, const char *name) {
  void *symbol = dlsym(handle, name);
  if (!symbol)
    return nullptr;
  link_map *moduleMap = nullptr;
  link_map *symbolMap = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &moduleMap) != 0 ||
      dladdr1(symbol, &info, reinterpret_cast<void **>(&symbolMap), RTLD_DL_LINKMAP) == 0 ||
      symbolMap != moduleMap)
    return nullptr;
  return symbol;
}

template <typename Function> Function exportAs(void *handle, const char *name) {
  return reinterpret_cast<Function>(moduleExport(handle, name));
}

void registerHandlers(void *handle, const std::string &fileName, GetFilterCountProc getCount,
                      GetFilterDescProc getDesc, ModuleBuffers &buffers) {
  int32_t count = getCount();
  for (int32_t index = 0; index < count; ++index) {
    if (FilterProcCount >= kMaxFilterProcs)
      return;
    getDesc(index, buffers.desc, buffers.name);
    std::string name = bufferText(buffers.name);
    TFilterProc proc = name.empty() ? nullptr : exportAs<TFilterProc>(handle, name.c_str());
    if (!proc)
      continue;
    if (!AddFilterProc(TCustFilters{proc, fileName, name, bufferText(buffers.desc)}))
      return;
  }
}

void loadModule(const std::string &folder, const std::string &fileName, ModuleBuffers &buffers) {
  std::string path = folder + fileName;
  if (!trustedPluginFile(path))
    return;
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle)
    return;
  auto getDesVersion = exportAs<GetDLLDesVersionProc>(handle, "GetDLLDesVersion");
  auto getCount = exportAs<GetFilterCountProc>(handle, "GetFilterCount");
  auto getDesc = exportAs<GetFilterDescProc>(handle, "GetFilterDesc");
  if (!getDesVersion || !getCount || !getDesc) {
    dlclose(handle);
    return;
  }
  // From here on the module keeps its row and stays loaded, whatever its
  // calls below do: what it registered before a failure stays usable.
  TCustFilterDLL &row = FilterDLLs[FilterDLLCount++];
  row = TCustFilterDLL{handle, {}, path};
  getDesVersion(buffers.desc);
  row.Desc = bufferText(buffers.desc);
  registerHandlers(handle, fileName, getCount, getDesc, buffers);
}

void loadModules(const std::string &folder) {
  ModuleBuffers buffers;
  for (const std::string &fileName : listFolder(folder, "LT", ".so")) {
    if (FilterDLLCount >= kMaxFilterDLLs)
      break;
    try {
      loadModule(folder, fileName, buffers);
    } catch (...) {
      // A module that throws out of one of its calls keeps what it
      // registered; the other modules still load. A fault inside a module
      // (a bad pointer) is not an exception here and ends the program.
    }
  }
}

void setUpAllData() {
  TIPFilter &all = IPFilters[0];
  all = TIPFilter{};
  all.Name = "All Data";
  all.AllProto = -1;
  all.ProcCount = 2;
  all.Procs[0] = FilterProcs[0];
  all.Procs[1] = FilterProcs[1];
  all.Returns = std::make_shared<TReturnPairs>();
}

void loadFilterFiles(const std::string &folder) {
  for (const std::string &fileName : listFolder(folder, "", ".flt")) {
    if (IPFilterCount >= kMaxIPFilters)
      break;
    TIPFilter filter;
    filter.Returns = std::make_shared<TReturnPairs>();
    try {
      LoadFilter(filter, folder + fileName);
    } catch (...) {
      // A file that does not load is left out without a word; the user sees
      // which filters are there.
      continue;
    }
    IPFilters[IPFilterCount++] = std::move(filter);
  }
}

// A bare file name would send dlopen searching the library path.
std::string folderPath(std::string folder) {
  if (folder.empty())
    return "./";
  if (folder.back() != '/')
    folder += '/';
  return folder;
}

} // namespace

void InitFilters(const std::string &executableFolder, const std::string &settingsFolder) {
  // A second start-up (the tests do it) first lets go of the modules of the
  // one before.
  if (FilterDLLCount > 0)
    UnloadFilterModules();
  ClearFilterProcs();
  FilterDLLCount = 0;
  IPFilterCount = 0;
  RegisterBuiltinHandlers();
  setUpAllData();
  IPFilterCount = 1;
  for (int i = 1; i < kMaxIPFilters; ++i)
    IPFilters[i].Returns = std::make_shared<TReturnPairs>();
  loadModules(folderPath(executableFolder));
  loadFilterFiles(folderPath(settingsFolder));
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0)
      return "./";
    if (static_cast<size_t>(length) < buffer.size())
      return folderOf(std::string(buffer.data(), static_cast<size_t>(length)));
    buffer.resize(buffer.size() * 2);
  }
}

void UnloadFilterModules() {
  for (int i = 0; i < FilterDLLCount; ++i) {
    if (FilterDLLs[i].Handle)
      dlclose(FilterDLLs[i].Handle);
    FilterDLLs[i] = TCustFilterDLL{};
  }
  FilterDLLCount = 0;
  FreeFilterLists();
}
