// The libpcap binding over capture files the tests write byte by byte, its
// behaviour without the library, and the driver engine's capture thread on a
// loopback device inside a private network namespace.
#include "capture/monitor_pcap.h"
#include "capture/pcap_binding.h"
#include "tests/support/pcap_file.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Sets (or, with null, removes) an environment variable for one scope.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }

private:
  void set(const char *value) {
    if (value)
      setenv(name_.c_str(), value, 1);
    else
      unsetenv(name_.c_str());
    tzset(); // for TZ; harmless otherwise
  }
  std::string name_;
  std::optional<std::string> old_;
};

// ---------------------------------------------------------------- files

struct Collected {
  std::vector<pcap_pkthdr> headers;
  std::vector<std::vector<uint8_t>> frames;
};

void collect(void *user, const pcap_pkthdr *header, const uint8_t *frame) {
  auto &c = *static_cast<Collected *>(user);
  c.headers.push_back(*header);
  c.frames.emplace_back(frame, frame + header->caplen);
}

std::vector<uint8_t> bytesFrom(uint8_t first, size_t count) {
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = uint8_t(first + i);
  return out;
}

class PcapBindingFile : public ::testing::Test {
protected:
  void SetUp() override {
    if (!LoadPacketDll())
      GTEST_SKIP() << "libpcap is not installed";
    path = ::testing::TempDir() + "vantor_binding_" + std::to_string(getpid()) + ".pcap";
    // Five records; the fourth was cut by the snap length.
    for (uint8_t i = 0; i < 5; ++i)
      records.push_back(
          {1200000000u + i, 1000u * i, bytesFrom(uint8_t(i * 16), 60 + i), i == 3 ? 1514u : 0u});
    ASSERT_TRUE(WritePcapFile(path, DLT_EN10MB, records));
  }
  void TearDown() override {
    if (!path.empty())
      std::remove(path.c_str());
  }

  std::unique_ptr<TPcapHandle> open() {
    std::string error;
    auto handle = PcapOpenFile(path, error);
    EXPECT_TRUE(handle) << error;
    EXPECT_TRUE(error.empty()) << error;
    return handle;
  }

  std::string path;
  std::vector<PcapRecord> records;
};

TEST_F(PcapBindingFile, MostRecordsSplitsTheReads) {
  struct Case {
    int32_t mostRecords;
    std::vector<int> results;
  };
  const Case cases[] = {{2, {2, 2, 1, 0, 0}}, {3, {3, 2, 0}}, {0, {5, 0}}, {-1, {5, 0}}};
  for (const Case &c : cases) {
    SCOPED_TRACE("most records " + std::to_string(c.mostRecords));
    auto handle = open();
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->LinkType, DLT_EN10MB);
    EXPECT_TRUE(handle->AdapterName.empty());
    Collected got;
    std::vector<int> results;
    for (size_t i = 0; i < c.results.size(); ++i)
      results.push_back(PcapReadPackets(*handle, c.mostRecords, collect, &got));
    EXPECT_EQ(results, c.results);
    ASSERT_EQ(got.frames.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(got.frames[i], records[i].bytes) << "record " << i;
      EXPECT_EQ(got.headers[i].ts.tv_sec, time_t(records[i].seconds));
      EXPECT_EQ(got.headers[i].ts.tv_usec, suseconds_t(records[i].microseconds));
      EXPECT_EQ(got.headers[i].caplen, records[i].bytes.size());
    }
    EXPECT_EQ(got.headers[3].len, 1514u) << "the length on the wire, not the captured one";
  }
}

TEST_F(PcapBindingFile, CookedCaptureFilesKeepTheirLinkType) {
  ASSERT_TRUE(WritePcapFile(path, DLT_LINUX_SLL2, records));
  auto handle = open();
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->LinkType, DLT_LINUX_SLL2);
  EXPECT_EQ(handle->SnapLen, 65535);
}

TEST_F(PcapBindingFile, ReceiverExceptionsCrossTheReadNotLibpcap) {
  auto handle = open();
  ASSERT_TRUE(handle);
  int calls = 0;
  const TPcapCallback throwOnSecond = [](void *user, const pcap_pkthdr *, const uint8_t *) {
    if (++*static_cast<int *>(user) == 2)
      throw std::runtime_error("receiver failed");
  };
  EXPECT_THROW(PcapReadPackets(*handle, 0, throwOnSecond, &calls), std::runtime_error);
  EXPECT_EQ(calls, 2) << "no record is delivered after the one that threw";
}

TEST_F(PcapBindingFile, UnreadableFilesAndClosedHandles) {
  std::string error;
  const std::string missing = path + ".missing";
  EXPECT_FALSE(PcapOpenFile(missing, error));
  EXPECT_EQ(error.rfind("Cannot Open File \"" + missing + "\": ", 0), 0u) << error;
  EXPECT_GT(error.size(), missing.size() + 20) << "libpcap's reason follows";

  std::FILE *junk = std::fopen(path.c_str(), "wb");
  ASSERT_NE(junk, nullptr);
  std::fputs("not a capture file at all", junk);
  std::fclose(junk);
  error.clear();
  EXPECT_FALSE(PcapOpenFile(path, error));
  EXPECT_FALSE(error.empty());

  TPcapHandle closed;
  Collected got;
  EXPECT_EQ(PcapReadPackets(closed, 0, collect, &got), -1);
  EXPECT_EQ(closed.ErrorText.rfind("Read Error: pcap_dispatch failed", 0), 0u) << closed.ErrorText;
  EXPECT_TRUE(got.frames.empty());

  std::unique_ptr<TPcapHandle> empty;
  PcapCloseAdapter(empty);
  EXPECT_FALSE(empty);
}

TEST_F(PcapBindingFile, CloseEmptiesTheVariable) {
  auto handle = open();
  ASSERT_TRUE(handle);
  PcapCloseAdapter(handle);
  EXPECT_FALSE(handle);
}

TEST_F(PcapBindingFile, AFileHasNoHardwareAddress) {
  auto handle = open();
  ASSERT_TRUE(handle);
  std::string error = "stale";
  std::array<uint8_t, 6> mac;
  mac.fill(0xAB);
  PcapGetMacAddress(*handle, error, mac);
  EXPECT_EQ(error, "Failed to get adaptor MAC");
  EXPECT_EQ(mac, (std::array<uint8_t, 6>{}));
}

// ------------------------------------------------------ library and system

// The driver engine reading a file on its capture thread: every record is
// delivered, the progress reaches the file's size, and the end of the file
// ends the capture by itself with no error.
TEST_F(PcapBindingFile, MonitorReadsAFileToItsEndOnItsThread) {
  TMonitorPcap monitor;
  std::atomic<int> delivered{0};
  monitor.OnPacketEvent = [&delivered](TPacketSource &, const TPacketInfo &) { ++delivered; };
  monitor.IgnoreNonIP = false;
  monitor.CaptureFile = path;
  monitor.StartCapture();
  ASSERT_TRUE(monitor.Connected()) << monitor.LastError();
  bool ended = false;
  QObject::connect(&monitor, &TMonitorPcap::CaptureEnded, [&ended] { ended = true; });
  for (int i = 0; i < 500 && !ended; ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(ended);
  EXPECT_FALSE(monitor.Connected());
  EXPECT_EQ(monitor.LastError(), "");
  EXPECT_EQ(delivered.load(), int(records.size()));
  EXPECT_EQ(monitor.FileBytesRead(), monitor.FileSize());
  EXPECT_GT(monitor.FileSize(), 24);

  // A file of another link type is refused and names the file.
  ASSERT_TRUE(WritePcapFile(path, 105 /* IEEE 802.11 */, records));
  monitor.StartCapture();
  EXPECT_FALSE(monitor.Connected());
  EXPECT_NE(monitor.LastError().find("Unsupported link type 105"), std::string::npos);
  EXPECT_NE(monitor.LastError().find(path), std::string::npos) << monitor.LastError();
}

TEST(PcapBinding, TimeZoneBiasIsMinutesWestOfUtc) {
  const std::pair<const char *, int32_t> cases[] = {
      {"UTC", 0}, {"UTC-1", -60}, {"EST5", 300}, {"IST-5:30", -330}};
  for (const auto &[zone, bias] : cases) {
    ScopedEnv tz("TZ", zone);
    EXPECT_EQ(GetTimeZoneBias(), bias) << zone;
  }
}

TEST(PcapBinding, VersionsAdaptersAndLinkNames) {
  if (!LoadPacketDll())
    GTEST_SKIP() << "libpcap is not installed";
  std::string version;
  PcapGetPacketVersion(version);
  EXPECT_EQ(version.rfind("libpcap version", 0), 0u) << version;
  PcapGetDriverVersion(version);
  EXPECT_EQ(version.rfind("Linux ", 0), 0u) << version;

  std::vector<std::string> names, descriptions;
  std::string error = "stale";
  const int count = PcapGetAdapterNames(&names, &descriptions, error);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(count, int(names.size()));
  EXPECT_EQ(names.size(), descriptions.size());
  for (const std::string &name : names) {
    EXPECT_FALSE(name.empty());
    EXPECT_GT(static_cast<unsigned char>(name.front()), ' ') << "trimmed: " << name;
    EXPECT_GT(static_cast<unsigned char>(name.back()), ' ') << "trimmed: " << name;
  }
  EXPECT_EQ(PcapGetAdapterNames(nullptr, &descriptions, error), 0);
  EXPECT_EQ(error, "String List not intialised");

  std::vector<uint32_t> addresses, masks, broadcasts;
  EXPECT_EQ(PcapGetIPAddresses("vantor-none0", addresses, masks, broadcasts, error), 0);
  EXPECT_EQ(error.rfind("Failed to get adaptor names", 0), 0u) << error;

  EXPECT_EQ(PcapLinkTypeName(DLT_EN10MB), "EN10MB");
  EXPECT_EQ(PcapLinkTypeName(DLT_LINUX_SLL2), "LINUX_SLL2");
  EXPECT_EQ(PcapLinkTypeName(99999), "");
}

TEST(PcapBinding, OpeningAMissingAdapterSaysWhich) {
  if (!LoadPacketDll())
    GTEST_SKIP() << "libpcap is not installed";
  std::string error;
  EXPECT_FALSE(PcapOpenAdapter("vantor-none0", 2000, false, error));
  EXPECT_EQ(error.rfind("Cannot Open Adapter \"vantor-none0\": ", 0), 0u) << error;
}

TEST(PcapBinding, LibraryNamedByTheEnvironment) {
  UnloadPacketDll();
  ScopedEnv library("VANTOR_LIBPCAP", "libpcap.so.0.8");
  const bool loaded = LoadPacketDll();
  std::string version;
  PcapGetPacketVersion(version);
  UnloadPacketDll();
  if (!loaded)
    GTEST_SKIP() << "libpcap.so.0.8 is not installed";
  EXPECT_EQ(version.rfind("libpcap version", 0), 0u) << version;
}

// Without the library every operation says so, and the driver engine finds
// nothing to capture on. Loading is process-wide: the library is released
// before and after, so the other tests load it afresh.
class PcapBindingWithoutLibrary : public ::testing::Test {
protected:
  void SetUp() override { UnloadPacketDll(); }
  void TearDown() override { UnloadPacketDll(); }
  ScopedEnv missing{"VANTOR_LIBPCAP", "/nonexistent/libpcap-vantor-missing.so.1"};
};

TEST_F(PcapBindingWithoutLibrary, EveryOperationReportsIt) {
  const std::string cannotLoad = "Cannot load libpcap";
  EXPECT_FALSE(LoadPacketDll());
  EXPECT_FALSE(LoadPacketDll()) << "asked again, still not there";

  std::vector<std::string> names{"old"}, descriptions;
  std::string error;
  EXPECT_EQ(PcapGetAdapterNames(&names, &descriptions, error), 0);
  EXPECT_EQ(error, cannotLoad);

  std::string version;
  PcapGetDriverVersion(version);
  EXPECT_EQ(version, cannotLoad);
  version.clear();
  PcapGetPacketVersion(version);
  EXPECT_EQ(version, cannotLoad);

  std::vector<uint32_t> addresses, masks, broadcasts;
  error.clear();
  EXPECT_EQ(PcapGetIPAddresses("lo", addresses, masks, broadcasts, error), 0);
  EXPECT_EQ(error, cannotLoad);

  error.clear();
  EXPECT_FALSE(PcapOpenAdapter("lo", 2000, false, error));
  EXPECT_EQ(error, cannotLoad);
  error.clear();
  EXPECT_FALSE(PcapOpenFile("/dev/null", error));
  EXPECT_EQ(error, cannotLoad);

  TPcapHandle handle;
  handle.AdapterName = "lo";
  EXPECT_EQ(PcapReadPackets(handle, 0, collect, nullptr), -1);
  EXPECT_EQ(handle.ErrorText, cannotLoad);

  std::array<uint8_t, 6> mac;
  mac.fill(0xAB);
  error.clear();
  PcapGetMacAddress(handle, error, mac);
  EXPECT_EQ(error, cannotLoad);
  EXPECT_EQ(mac, (std::array<uint8_t, 6>{}));

  PcapBreakLoop(handle); // nothing to wake, nothing to call
  EXPECT_EQ(PcapLinkTypeName(DLT_EN10MB), "");
}

TEST_F(PcapBindingWithoutLibrary, TheDriverEngineHasNoAdapters) {
  TMonitorPcap monitor;
  EXPECT_EQ(monitor.DriverVersion(), "Cannot load libpcap");
  EXPECT_EQ(monitor.PacketVersion(), "Cannot load libpcap");
  EXPECT_TRUE(monitor.AdapterNameList().empty());
  EXPECT_TRUE(monitor.MonAdapter.empty());
  EXPECT_EQ(monitor.LastError(), "Cannot load libpcap");
  monitor.StartCapture();
  EXPECT_FALSE(monitor.Connected());
  EXPECT_EQ(monitor.LastError(), "No Adaptors Found to Monitor");
  monitor.StopCapture();
  EXPECT_FALSE(monitor.Connected());
}

// ------------------------------------------------------- the capture thread

bool setUp(int fd, const char *name) {
  ifreq request{};
  std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  if (ioctl(fd, SIOCGIFFLAGS, &request) != 0)
    return false;
  request.ifr_flags = short(request.ifr_flags | IFF_UP);
  return ioctl(fd, SIOCSIFFLAGS, &request) == 0;
}

// Moves the calling thread (and the threads it starts) into a new network
// namespace with its loopback up, and back out at the end: the traffic the
// tests make never leaves it.
class PrivateNetwork {
public:
  PrivateNetwork() {
    original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (original_ < 0)
      return;
    if (unshare(CLONE_NEWNET) != 0) {
      reason_ = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
      close(original_);
      original_ = -1;
      return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ready_ = fd >= 0 && setUp(fd, "lo");
    if (fd >= 0)
      close(fd);
  }
  ~PrivateNetwork() {
    if (original_ >= 0) {
      EXPECT_EQ(setns(original_, CLONE_NEWNET), 0) << std::strerror(errno);
      close(original_);
    }
  }
  bool ready() const { return ready_; }
  const std::string &reason() const { return reason_; }

private:
  int original_ = -1;
  bool ready_ = false;
  std::string reason_ = "no private network namespace";
};

void sendUdp(uint16_t port, const std::string &text) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
            ssize_t(text.size()));
  close(fd);
}

// Runs the event loop until `done` or the deadline.
bool processEventsUntil(const std::function<bool()> &done,
                        std::chrono::milliseconds limit = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

class PcapBindingMonitor : public ::testing::Test {
protected:
  void SetUp() override {
    if (!LoadPacketDll())
      GTEST_SKIP() << "libpcap is not installed";
    if (!network.ready())
      GTEST_SKIP() << network.reason();
  }
  PrivateNetwork network;
};

TEST_F(PcapBindingMonitor, CapturesUntilStoppedAndStopsPromptly) {
  TMonitorPcap monitor;
  bool ended = false;
  QObject::connect(&monitor, &TMonitorPcap::CaptureEnded, [&] { ended = true; });
  std::mutex mutex;
  std::vector<TPacketInfo> seen;
  monitor.OnPacketEvent = [&](TPacketSource &, const TPacketInfo &info) {
    std::lock_guard lock(mutex);
    if (info.Payload.view().find("vantor-probe") != std::string_view::npos)
      seen.push_back(info);
  };
  monitor.MonAdapter = "lo";
  monitor.Addr = " 127.0.0.1\t";
  monitor.StartCapture();
  ASSERT_TRUE(monitor.Connected()) << monitor.LastError();
  EXPECT_EQ(monitor.Addr, "127.0.0.1") << "trimmed at the start";

  monitor.StartCapture();
  EXPECT_EQ(monitor.LastError(), "PCap Driver Already Running");
  EXPECT_TRUE(monitor.Connected()) << "the running capture is left alone";

  const auto delivered = [&] {
    std::lock_guard lock(mutex);
    return !seen.empty();
  };
  for (int attempt = 0; attempt < 20 && !delivered(); ++attempt) {
    sendUdp(9, "vantor-probe");
    processEventsUntil(delivered, 250ms);
  }
  ASSERT_TRUE(delivered());
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen[0].SrcAddr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(seen[0].DstPort, 9);
    EXPECT_EQ(seen[0].IpProto, 17);
  }

  const auto before = std::chrono::steady_clock::now();
  monitor.StopCapture();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
  EXPECT_FALSE(monitor.Connected());
  EXPECT_GT(monitor.TotSendPackets() + monitor.TotRecvPackets(), 0);
  monitor.StopCapture(); // again, idle: harmless
  processEventsUntil([] { return false; }, 100ms);
  EXPECT_FALSE(ended) << "a stop asked for is not an end by itself";

  monitor.StartCapture();
  EXPECT_TRUE(monitor.Connected()) << "starts again after a stop: " << monitor.LastError();
}

TEST_F(PcapBindingMonitor, AReceiverExceptionEndsTheCapture) {
  TMonitorPcap monitor;
  int endings = 0;
  QObject::connect(&monitor, &TMonitorPcap::CaptureEnded, [&] { ++endings; });
  std::atomic<int> calls{0};
  monitor.OnPacketEvent = [&](TPacketSource &, const TPacketInfo &) {
    ++calls;
    throw std::runtime_error("receiver failed");
  };
  monitor.MonAdapter = "lo";
  monitor.StartCapture();
  ASSERT_TRUE(monitor.Connected()) << monitor.LastError();
  for (int attempt = 0; attempt < 20 && endings == 0; ++attempt) {
    sendUdp(9, "vantor-probe");
    processEventsUntil([&] { return endings > 0; }, 250ms);
  }
  ASSERT_EQ(endings, 1);
  EXPECT_FALSE(monitor.Connected());
  EXPECT_EQ(monitor.LastError(), "receiver failed");
  EXPECT_EQ(calls.load(), 1) << "nothing is delivered once the receiver failed";

  // The handler closed the adapter: a new capture can start.
  monitor.OnPacketEvent = nullptr;
  monitor.StartCapture();
  EXPECT_TRUE(monitor.Connected()) << monitor.LastError();
  monitor.StopCapture();
  EXPECT_FALSE(monitor.Connected());
}

TEST_F(PcapBindingMonitor, OtherLinkTypesAreRefused) {
  const int tun = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (tun < 0)
    GTEST_SKIP() << "no /dev/net/tun";
  ifreq request{};
  std::strncpy(request.ifr_name, "vantor-tun0", IFNAMSIZ - 1);
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  ASSERT_EQ(ioctl(tun, TUNSETIFF, &request), 0) << std::strerror(errno);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_TRUE(setUp(fd, "vantor-tun0"));
  close(fd);

  TMonitorPcap monitor;
  monitor.MonAdapter = "vantor-tun0";
  monitor.StartCapture();
  EXPECT_FALSE(monitor.Connected());
  EXPECT_EQ(monitor.LastError(), "Unsupported link type 12 (RAW) on adapter \"vantor-tun0\"");
  monitor.StartCapture();
  EXPECT_NE(monitor.LastError(), "PCap Driver Already Running") << "the adapter was closed";
  close(tun);
}

TEST_F(PcapBindingMonitor, AdapterAddressesAsText) {
  TMonitorPcap monitor;
  const auto &names = monitor.AdapterNameList();
  ASSERT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
  std::vector<std::string> addresses{"old"}, masks, broadcasts;
  ASSERT_EQ(monitor.GetAdapterAddresses("lo", addresses, masks, broadcasts), 1)
      << monitor.LastError();
  EXPECT_EQ(addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(masks, std::vector<std::string>{"255.0.0.0"});
  ASSERT_EQ(broadcasts.size(), 1u);

  monitor.MonAdapter.clear();
  monitor.StartCapture();
  EXPECT_EQ(monitor.LastError(), "No Adaptors Found to Monitor");
  EXPECT_FALSE(monitor.Connected());
}

} // namespace
