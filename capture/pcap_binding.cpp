#include "capture/pcap_binding.h"

#include "packet/text_trim.h"

#include "capture/capture_error.h"

#include <dlfcn.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>

namespace {

constexpr const char *kCannotLoad = "Cannot load libpcap";
constexpr const char *kReadFailed = "Read Error: pcap_dispatch failed";
constexpr const char *kNoMac = "Failed to get adaptor MAC";
constexpr const char *kNoNames = "Failed to get adaptor names";
constexpr int kReadTimeoutMs = 100;
constexpr int kKernelBufferBytes = 1000000;

// Every libpcap function the program calls, resolved by name. decltype only
// borrows pcap.h's signatures: nothing here links against libpcap.
#define VANTOR_PCAP_ENTRY_POINTS(X)                                                                \
  X(pcap_findalldevs)                                                                              \
  X(pcap_freealldevs)                                                                              \
  X(pcap_lib_version)                                                                              \
  X(pcap_create)                                                                                   \
  X(pcap_set_snaplen)                                                                              \
  X(pcap_set_promisc)                                                                              \
  X(pcap_set_timeout)                                                                              \
  X(pcap_set_buffer_size)                                                                          \
  X(pcap_activate)                                                                                 \
  X(pcap_open_offline)                                                                             \
  X(pcap_close)                                                                                    \
  X(pcap_geterr)                                                                                   \
  X(pcap_statustostr)                                                                              \
  X(pcap_dispatch)                                                                                 \
  X(pcap_breakloop)                                                                                \
  X(pcap_snapshot)                                                                                 \
  X(pcap_datalink)                                                                                 \
  X(pcap_datalink_val_to_name)                                                                     \
  X(pcap_file)

struct PcapApi {
#define VANTOR_PCAP_MEMBER(name) decltype(&::name) name = nullptr;
  VANTOR_PCAP_ENTRY_POINTS(VANTOR_PCAP_MEMBER)
#undef VANTOR_PCAP_MEMBER
};

// Loaded once on the main thread before any capture thread exists; after
// that the capture thread only reads the table (acquire on `loaded`).
std::mutex loadMutex;
std::atomic<bool> loaded{false};
void *library = nullptr;
PcapApi api;

void resolveEntryPoints(void *handle) {
#define VANTOR_PCAP_RESOLVE(name)                                                                  \
  api.name = reinterpret_cast<decltype(api.name)>(dlsym(handle, #name));
  VANTOR_PCAP_ENTRY_POINTS(VANTOR_PCAP_RESOLVE)
#undef VANTOR_PCAP_RESOLVE
}

// The table, or null when the library cannot be loaded.
const PcapApi *loadedApi() {
  return LoadPacketDll() ? &api : nullptr;
}

std::string lacks(const char *entryPoint) {
  return std::string("libpcap lacks ") + entryPoint;
}

std::string quoted(const std::string &text) {
  return "\"" + text + "\"";
}

// libpcap may hand out a null description.
std::string trimmed(const char *text) {
  return text ? std::string(TrimControl(text)) : std::string();
}

std::string handleError(const PcapApi &pcap, pcap_t *p) {
  const char *text = pcap.pcap_geterr ? pcap.pcap_geterr(p) : nullptr;
  return text && *text ? std::string(text) : std::string("unknown libpcap error");
}

// The reason pcap_activate gave. Only some codes leave a message behind
// (pcap_activate(3PCAP)); the others are described by pcap_statustostr.
std::string activateError(const PcapApi &pcap, pcap_t *p, int status) {
  switch (status) {
  case PCAP_ERROR:
  case PCAP_ERROR_NO_SUCH_DEVICE:
  case PCAP_ERROR_PERM_DENIED:
  case PCAP_ERROR_PROMISC_PERM_DENIED:
    if (pcap.pcap_geterr && pcap.pcap_geterr(p) && *pcap.pcap_geterr(p))
      return pcap.pcap_geterr(p);
    break;
  default:
    break;
  }
  if (pcap.pcap_statustostr)
    return pcap.pcap_statustostr(status);
  return "libpcap status " + std::to_string(status);
}

uint32_t inetAddress(const sockaddr *address) {
  if (!address || address->sa_family != AF_INET)
    return 0;
  sockaddr_in in;
  std::memcpy(&in, address, sizeof in);
  return in.sin_addr.s_addr; // network byte order, as the record holds addresses
}

// One pcap_dispatch's view of the caller's callback.
struct DispatchContext {
  TPcapCallback callback;
  void *user;
  pcap_t *pcap;
  std::exception_ptr failure; // thrown by the callback; rethrown after the read
};

// An exception must never unwind through libpcap's C frames: it is held
// here, the read is broken off, and PcapReadPackets rethrows it.
void dispatchTrampoline(u_char *user, const pcap_pkthdr *header, const u_char *bytes) noexcept {
  auto &context = *reinterpret_cast<DispatchContext *>(user);
  if (context.failure || !context.callback)
    return;
  try {
    context.callback(context.user, header, bytes);
  } catch (...) {
    context.failure = std::current_exception();
    if (api.pcap_breakloop)
      api.pcap_breakloop(context.pcap);
  }
}

} // namespace

TPcapHandle::~TPcapHandle() {
  if (Pcap && api.pcap_close)
    api.pcap_close(Pcap);
}

bool LoadPacketDll() {
  if (loaded.load(std::memory_order_acquire))
    return true;
  std::lock_guard lock(loadMutex);
  if (loaded.load(std::memory_order_relaxed))
    return true;
  // secure_getenv: a program running with file capabilities must not load a
  // library its user names.
  const char *chosen = secure_getenv("VANTOR_LIBPCAP");
  void *handle = nullptr;
  if (chosen && *chosen) {
    handle = dlopen(chosen, RTLD_NOW | RTLD_LOCAL);
  } else {
    for (const char *name : {"libpcap.so.1", "libpcap.so.0.8"}) {
      handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (handle)
        break;
    }
  }
  if (!handle)
    return false;
  library = handle;
  resolveEntryPoints(handle);
  loaded.store(true, std::memory_order_release);
  return true;
}

void UnloadPacketDll() {
  std::lock_guard lock(loadMutex);
  if (!loaded.load(std::memory_order_relaxed))
    return;
  loaded.store(false, std::memory_order_release);
  api = PcapApi{};
  dlclose(library);
  library = nullptr;
}

namespace {

// The adapters libpcap lists, released with its own function. Empty, with
// `error` set, when the list cannot be had.
class DeviceList {
public:
  DeviceList(const PcapApi &pcap, std::string &error) : pcap_(pcap) {
    if (!pcap.pcap_findalldevs || !pcap.pcap_freealldevs) {
      error = std::string(kNoNames) + ": " + lacks("pcap_findalldevs");
      return;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap.pcap_findalldevs(&devices_, errbuf) != 0) {
      devices_ = nullptr;
      error = std::string(kNoNames) + ": " + errbuf;
    }
  }
  ~DeviceList() {
    if (devices_)
      pcap_.pcap_freealldevs(devices_);
  }
  DeviceList(const DeviceList &) = delete;
  DeviceList &operator=(const DeviceList &) = delete;
  const pcap_if_t *first() const { return devices_; }

private:
  const PcapApi &pcap_;
  pcap_if_t *devices_ = nullptr;
};

} // namespace

int PcapGetAdapterNames(std::vector<std::string> *names, std::vector<std::string> *descriptions,
                        std::string &error) {
  error.clear();
  const PcapApi *pcap = loadedApi();
  if (!pcap) {
    error = kCannotLoad;
    return 0;
  }
  if (!names || !descriptions) {
    error = "String List not intialised";
    return 0;
  }
  names->clear();
  descriptions->clear();
  const DeviceList devices(*pcap, error);
  for (const pcap_if_t *device = devices.first(); device; device = device->next) {
    std::string name = trimmed(device->name);
    if (name.empty())
      continue;
    names->push_back(std::move(name));
    descriptions->push_back(trimmed(device->description));
  }
  return int(names->size());
}

void PcapGetDriverVersion(std::string &version) {
  if (!loadedApi()) {
    version = kCannotLoad;
    return;
  }
  // libpcap has no driver of its own: the kernel is the driver.
  utsname name;
  if (uname(&name) != 0) {
    version = "Version not available";
    return;
  }
  version = std::string(name.sysname) + " " + name.release;
}

void PcapGetPacketVersion(std::string &version) {
  const PcapApi *pcap = loadedApi();
  if (!pcap)
    version = kCannotLoad;
  else if (!pcap->pcap_lib_version)
    version = "Version not available";
  else
    version = pcap->pcap_lib_version();
}

int PcapGetIPAddresses(const std::string &adapter, std::vector<uint32_t> &addresses,
                       std::vector<uint32_t> &masks, std::vector<uint32_t> &broadcasts,
                       std::string &error) {
  error.clear();
  addresses.clear();
  masks.clear();
  broadcasts.clear();
  const PcapApi *pcap = loadedApi();
  if (!pcap) {
    error = kCannotLoad;
    return 0;
  }
  const DeviceList devices(*pcap, error);
  if (!error.empty())
    return 0;
  const pcap_if_t *device = devices.first();
  while (device && trimmed(device->name) != adapter)
    device = device->next;
  if (!device) {
    error = std::string(kNoNames) + ": no adapter " + quoted(adapter);
  } else {
    for (const pcap_addr_t *entry = device->addresses; entry; entry = entry->next) {
      if (!entry->addr || entry->addr->sa_family != AF_INET)
        continue;
      addresses.push_back(inetAddress(entry->addr));
      masks.push_back(inetAddress(entry->netmask));
      broadcasts.push_back(inetAddress(entry->broadaddr));
    }
  }
  return int(addresses.size());
}

std::unique_ptr<TPcapHandle> PcapOpenAdapter(const std::string &adapter, int32_t snapLen,
                                             bool promiscuous, std::string &error) {
  const PcapApi *pcap = loadedApi();
  if (!pcap) {
    error = kCannotLoad;
    return nullptr;
  }
  const std::string cannotOpen = "Cannot Open Adapter " + quoted(adapter);
  const std::pair<bool, const char *> required[] = {
      {pcap->pcap_create != nullptr, "pcap_create"},
      {pcap->pcap_set_snaplen != nullptr, "pcap_set_snaplen"},
      {pcap->pcap_set_promisc != nullptr, "pcap_set_promisc"},
      {pcap->pcap_set_timeout != nullptr, "pcap_set_timeout"},
      {pcap->pcap_set_buffer_size != nullptr, "pcap_set_buffer_size"},
      {pcap->pcap_activate != nullptr, "pcap_activate"},
      {pcap->pcap_close != nullptr, "pcap_close"}};
  for (const auto &[present, name] : required) {
    if (!present) {
      error = cannotOpen + ": " + lacks(name);
      return nullptr;
    }
  }
  auto handle = std::make_unique<TPcapHandle>();
  handle->AdapterName = adapter;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  handle->Pcap = pcap->pcap_create(adapter.c_str(), errbuf);
  if (!handle->Pcap) {
    error = cannotOpen + ": " + errbuf;
    return nullptr;
  }
  // The setters fail only on an activated handle; checked all the same, and
  // the handle's destructor closes what was opened.
  if (pcap->pcap_set_snaplen(handle->Pcap, snapLen) != 0) {
    error = cannotOpen + ": " + handleError(*pcap, handle->Pcap);
    return nullptr;
  }
  if (pcap->pcap_set_promisc(handle->Pcap, promiscuous ? 1 : 0) != 0) {
    error = promiscuous ? "Cannot set Device Filter to Promiscuous mode"
                        : "Cannot set Device Filter to Directed mode";
    return nullptr;
  }
  if (pcap->pcap_set_timeout(handle->Pcap, kReadTimeoutMs) != 0) {
    error = cannotOpen + ": " + handleError(*pcap, handle->Pcap);
    return nullptr;
  }
  if (pcap->pcap_set_buffer_size(handle->Pcap, kKernelBufferBytes) != 0) {
    error = "Not enough memory to allocate Driver buffer";
    return nullptr;
  }
  // A positive status is a warning (e.g. promiscuous mode not supported):
  // the capture works.
  const int status = pcap->pcap_activate(handle->Pcap);
  if (status < 0) {
    const std::string text = status == PCAP_ERROR_PROMISC_PERM_DENIED
                                 ? "Cannot set Device Filter to Promiscuous mode"
                                 : cannotOpen;
    error = text + ": " + activateError(*pcap, handle->Pcap, status);
    return nullptr;
  }
  handle->SnapLen = pcap->pcap_snapshot ? pcap->pcap_snapshot(handle->Pcap) : snapLen;
  handle->LinkType = pcap->pcap_datalink ? pcap->pcap_datalink(handle->Pcap) : DLT_EN10MB;
  return handle;
}

std::unique_ptr<TPcapHandle> PcapOpenFile(const std::string &path, std::string &error) {
  const PcapApi *pcap = loadedApi();
  if (!pcap) {
    error = kCannotLoad;
    return nullptr;
  }
  const std::string cannotOpen = "Cannot Open File " + quoted(path);
  if (!pcap->pcap_open_offline || !pcap->pcap_close) {
    error = cannotOpen + ": " + lacks("pcap_open_offline");
    return nullptr;
  }
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  auto handle = std::make_unique<TPcapHandle>();
  handle->Pcap = pcap->pcap_open_offline(path.c_str(), errbuf);
  if (!handle->Pcap) {
    error = cannotOpen + ": " + errbuf;
    return nullptr;
  }
  handle->SnapLen = pcap->pcap_snapshot ? pcap->pcap_snapshot(handle->Pcap) : 0;
  handle->LinkType = pcap->pcap_datalink ? pcap->pcap_datalink(handle->Pcap) : DLT_EN10MB;
  return handle;
}

int64_t PcapFileOffset(TPcapHandle &handle) {
  const PcapApi *pcap = loadedApi();
  if (!pcap || !pcap->pcap_file || !handle.Pcap)
    return -1;
  FILE *file = pcap->pcap_file(handle.Pcap);
  return file ? int64_t(ftello(file)) : -1;
}

int PcapReadPackets(TPcapHandle &handle, int32_t mostRecords, TPcapCallback callback, void *user) {
  const PcapApi *pcap = loadedApi();
  if (!pcap) {
    handle.ErrorText = kCannotLoad;
    return -1;
  }
  if (!pcap->pcap_dispatch) {
    handle.ErrorText = std::string(kReadFailed) + ": " + lacks("pcap_dispatch");
    return -1;
  }
  if (!handle.Pcap) {
    handle.ErrorText = std::string(kReadFailed) + ": the adapter is not open";
    return -1;
  }
  DispatchContext context{callback, user, handle.Pcap, nullptr};
  const int result = pcap->pcap_dispatch(handle.Pcap, mostRecords > 0 ? mostRecords : -1,
                                         dispatchTrampoline, reinterpret_cast<u_char *>(&context));
  if (context.failure)
    std::rethrow_exception(context.failure);
  if (result == PCAP_ERROR_BREAK)
    return 0; // woken by PcapBreakLoop
  if (result < 0) {
    handle.ErrorText = std::string(kReadFailed) + ": " + handleError(*pcap, handle.Pcap);
    return -1;
  }
  return result;
}

void PcapGetMacAddress(TPcapHandle &handle, std::string &error, std::array<uint8_t, 6> &mac) {
  mac.fill(0);
  error.clear();
  if (!loadedApi()) {
    error = kCannotLoad;
    return;
  }
  // A file, or the "any" pseudo-device, has no hardware address of its own.
  const std::string &name = handle.AdapterName;
  if (name.empty() || name == "any" || name.size() >= IFNAMSIZ) {
    error = kNoMac;
    return;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string(kNoMac) + ": " + ErrnoText(errno);
    return;
  }
  ifreq request{};
  std::memcpy(request.ifr_name, name.data(), name.size());
  if (ioctl(fd, SIOCGIFHWADDR, &request) != 0)
    error = std::string(kNoMac) + ": " + ErrnoText(errno);
  else
    std::memcpy(mac.data(), request.ifr_hwaddr.sa_data, mac.size());
  close(fd);
}

void PcapBreakLoop(TPcapHandle &handle) {
  // Without pcap_breakloop the read still ends at its 100 ms time-out.
  const PcapApi *pcap = loadedApi();
  if (pcap && pcap->pcap_breakloop && handle.Pcap)
    pcap->pcap_breakloop(handle.Pcap);
}

void PcapCloseAdapter(std::unique_ptr<TPcapHandle> &handle) {
  handle.reset(); // the handle's destructor closes the libpcap handle
}

int32_t GetTimeZoneBias() {
  tzset(); // localtime_r need not notice a changed TZ by itself
  const time_t now = time(nullptr);
  tm local{};
  if (!localtime_r(&now, &local))
    return 0;
  return int32_t(-local.tm_gmtoff / 60);
}

std::string PcapLinkTypeName(int linkType) {
  const PcapApi *pcap = loadedApi();
  if (!pcap || !pcap->pcap_datalink_val_to_name)
    return {};
  const char *name = pcap->pcap_datalink_val_to_name(linkType);
  return name ? std::string(name) : std::string();
}
