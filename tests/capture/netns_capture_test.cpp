// Both engines capturing real traffic on a veth between two network
// namespaces: the test thread lives in side A and captures there while
// threads and commands in side B send to it.
#include "capture/capture_error.h"
#include "capture/monitor_pcap.h"
#include "capture/monitor_socket.h"
#include "capture/pcap_binding.h"
#include "packet/date_time.h"
#include "packet/packet_info.h"
#include "tests/support/netns.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = 5s;
constexpr uint16_t kEtherTypeArp = 0x0806;
constexpr uint16_t kTcpFin = 0x01;
constexpr uint16_t kTcpSyn = 0x02;
constexpr uint16_t kTcpAck = 0x10;

// ---------------------------------------------------------------------------
// What the engines deliver and count

// Copies of every delivered record. The driver engine delivers on its
// capture thread while the test thread reads, hence the lock.
class RecordLog {
public:
  TPacketEvent receiver() {
    return [this](TPacketSource &, const TPacketInfo &info) {
      std::lock_guard lock(mutex_);
      records_.push_back(info);
    };
  }
  std::vector<TPacketInfo> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  size_t count(const std::function<bool(const TPacketInfo &)> &match) const {
    std::lock_guard lock(mutex_);
    return size_t(std::count_if(records_.begin(), records_.end(), match));
  }

private:
  mutable std::mutex mutex_;
  std::vector<TPacketInfo> records_;
};

struct Counters {
  int64_t recvBytes = 0;
  int64_t sendBytes = 0;
  int32_t recvPackets = 0;
  int32_t sendPackets = 0;
  bool operator==(const Counters &) const = default;
};

void PrintTo(const Counters &c, std::ostream *out) {
  *out << "{recv " << c.recvPackets << " packets/" << c.recvBytes << " bytes, send "
       << c.sendPackets << " packets/" << c.sendBytes << " bytes}";
}

template <class Engine> Counters countersOf(const Engine &engine) {
  return {engine.TotRecvBytes(), engine.TotSendBytes(), engine.TotRecvPackets(),
          engine.TotSendPackets()};
}

// What the counters must read when every counted packet was delivered.
Counters countRecords(const std::vector<TPacketInfo> &records) {
  Counters sum;
  for (const TPacketInfo &r : records) {
    if (r.IsSend) {
      sum.sendBytes += r.FrameLen;
      ++sum.sendPackets;
    } else {
      sum.recvBytes += r.FrameLen;
      ++sum.recvPackets;
    }
  }
  return sum;
}

Bytes payloadOf(const TPacketInfo &r) {
  return Bytes(r.Payload.bytes().begin(), r.Payload.bytes().end());
}

// Lets Qt deliver this thread's socket notifications (the raw engine reads
// on the thread that created it) until `done` holds or `timeout` passes.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = kWait) {
  const auto deadline = Clock::now() + timeout;
  QTimer tick; // bounds each wait for events, so the deadline is seen
  tick.start(5);
  for (;;) {
    if (done())
      return true;
    if (Clock::now() >= deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

// For a time in which nothing is expected to happen.
void pumpEventsFor(std::chrono::milliseconds span) {
  waitUntil([] { return false; }, span);
}

// ---------------------------------------------------------------------------
// Traffic

struct Socket {
  int fd = -1;
  explicit Socket(int domain, int type, int protocol = 0)
      : fd(socket(domain, type | SOCK_CLOEXEC, protocol)) {}
  ~Socket() {
    if (fd >= 0)
      close(fd);
  }
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;
  // Blocking calls give up after `seconds`, so a lost packet fails a test
  // instead of hanging it.
  void setTimeouts(int seconds) const {
    const timeval tv{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
};

sockaddr_in endpoint(uint32_t addr, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  sa.sin_port = htons(port);
  return sa;
}

bool bindTo(const Socket &s, uint32_t addr, uint16_t port) {
  const int on = 1;
  setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in sa = endpoint(addr, port);
  return bind(s.fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0;
}

bool sendUdp(const Socket &s, uint32_t addr, uint16_t port, const Bytes &payload) {
  const sockaddr_in to = endpoint(addr, port);
  return sendto(s.fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                sizeof to) == ssize_t(payload.size());
}

bool sendAll(int fd, const Bytes &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    done += size_t(n);
  }
  return true;
}

// Reads exactly `size` bytes, or fewer when the peer closes or a read times out.
Bytes receiveExactly(int fd, size_t size) {
  Bytes bytes(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = recv(fd, bytes.data() + done, size - done, 0);
    if (n <= 0)
      break;
    done += size_t(n);
  }
  bytes.resize(done);
  return bytes;
}

// Bytes until the peer's FIN; -1 when a read fails or times out first.
int64_t drainToEnd(int fd) {
  int64_t total = 0;
  uint8_t chunk[8192];
  for (;;) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0)
      return total;
    if (n < 0)
      return -1;
    total += n;
  }
}

// `size` bytes that differ from call to call and hold zero bytes, so a
// payload cut, shifted or taken from another packet does not compare equal.
Bytes pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = uint8_t(i * 7 + seed);
  return bytes;
}

// A 60-byte ARP request from side B asking for A's address, its padding
// marked so the frame is recognised in a capture.
Bytes arpRequest(const NetnsSide &from, const NetnsSide &to) {
  Bytes f(60, 0);
  std::fill_n(f.begin(), 6, 0xFF);
  std::copy(from.mac.begin(), from.mac.end(), f.begin() + 6);
  f[12] = 0x08, f[13] = 0x06;                 // ARP
  f[14] = 0x00, f[15] = 0x01;                 // Ethernet
  f[16] = 0x08, f[17] = 0x00;                 // IPv4
  f[18] = 6, f[19] = 4, f[20] = 0, f[21] = 1; // sizes, request
  std::copy(from.mac.begin(), from.mac.end(), f.begin() + 22);
  std::memcpy(f.data() + 28, &from.addr, 4);
  std::memcpy(f.data() + 38, &to.addr, 4);
  const char marker[] = "vantor-arp-marker";
  std::copy(marker, marker + sizeof marker, f.begin() + 42); // 18 bytes with the zero
  return f;
}

// Sends a whole Ethernet frame out of `side`'s veth; run inside that side.
bool sendFrame(const NetnsSide &side, const Bytes &frame) {
  Socket s(AF_PACKET, SOCK_RAW, 0);
  if (s.fd < 0)
    return false;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = int(if_nametoindex(side.dev.c_str()));
  to.sll_halen = 6;
  std::copy(frame.begin(), frame.begin() + 6, to.sll_addr);
  return sendto(s.fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                sizeof to) == ssize_t(frame.size());
}

// ---------------------------------------------------------------------------
// Record predicates

auto fromTo(const NetnsSide &from, const NetnsSide &to, uint8_t proto) {
  return [src = from.addr, dst = to.addr, proto](const TPacketInfo &r) {
    return r.EtherType == kEtherTypeIPv4 && r.IpProto == proto && r.SrcAddr == src &&
           r.DstAddr == dst;
  };
}

auto udpCarrying(const NetnsSide &from, const NetnsSide &to, const Bytes &payload) {
  return [ip = fromTo(from, to, kProtoUdp), payload](const TPacketInfo &r) {
    return ip(r) && r.PayloadLen == int32_t(payload.size()) && payloadOf(r) == payload;
  };
}

int promiscuityOf(const std::string &linkDetails) {
  const auto at = linkDetails.find("promiscuity ");
  return at == std::string::npos ? -1 : std::atoi(linkDetails.c_str() + at + 12);
}

bool libpcapLoadedInThisProcess() {
  for (const char *name : {"libpcap.so.1", "libpcap.so.0.8"}) {
    if (void *handle = dlopen(name, RTLD_LAZY | RTLD_NOLOAD)) {
      dlclose(handle);
      return true;
    }
  }
  return false;
}

// Sets (or removes) an environment variable for a scope and puts the earlier
// value back, so no later test in the same process sees the change.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
  const char *name_;
  std::optional<std::string> old_;
};

// ---------------------------------------------------------------------------
// The engines, set up on side A the way the main window sets them up

enum class Engine { Driver, Raw };

class CaptureOnA {
public:
  CaptureOnA(Engine engine, const TestNetnsPair &net, RecordLog &log)
      : engine_(engine), net_(net), log_(log) {}
  ~CaptureOnA() { stop(); }

  // Empty when the capture runs, else why it does not.
  std::string start() {
    if (engine_ == Engine::Driver) {
      if (!LoadPacketDll())
        return "libpcap cannot be loaded (Debian libpcap0.8 is needed by the driver engine)";
      // The adapter list is read at construction, in the namespace of the
      // constructing thread: side A.
      driver_ = std::make_unique<TMonitorPcap>();
      const auto &names = driver_->AdapterNameList();
      if (std::find(names.begin(), names.end(), net_.a().dev) == names.end())
        return "the driver engine does not list " + net_.a().dev;
      driver_->MonAdapter = net_.a().dev;
      driver_->Addr = net_.a().addrText;
      driver_->AddrMask = TestNetnsPair::kMask;
      driver_->OnPacketEvent = log_.receiver();
      driver_->StartCapture();
      return driver_->Connected() ? "" : "StartCapture: " + driver_->LastError();
    }
    raw_ = std::make_unique<TMonitorSocket>();
    raw_->Addr = net_.a().addrText;
    raw_->AddrMask = TestNetnsPair::kMask;
    raw_->OnPacketEvent = log_.receiver();
    try {
      raw_->StartCapture();
    } catch (const ECaptureError &e) {
      raw_->StopCapture();
      return std::string("StartCapture: ") + e.what();
    }
    return "";
  }

  void stop() {
    if (driver_)
      driver_->StopCapture();
    if (raw_)
      raw_->StopCapture();
  }

  Counters counters() const { return driver_ ? countersOf(*driver_) : countersOf(*raw_); }

private:
  Engine engine_;
  const TestNetnsPair &net_;
  RecordLog &log_;
  std::unique_ptr<TMonitorPcap> driver_;
  std::unique_ptr<TMonitorSocket> raw_;
};

// ---------------------------------------------------------------------------
// Fixtures

// A fresh pair of namespaces per test, the test thread inside side A.
class NetnsCaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!net_.ready())
      GTEST_SKIP() << net_.error();
    ASSERT_TRUE(net_.enterA()) << net_.error();
  }

  const NetnsSide &a() const { return net_.a(); }
  const NetnsSide &b() const { return net_.b(); }

  // The fields every delivered record must show, whatever the traffic.
  void expectSaneRecords(const std::vector<TPacketInfo> &records, Engine engine,
                         TDateTime startedAt) const {
    const TDateTime second = 1.0 / 86400;
    const TDateTime now = LocalNow();
    for (const TPacketInfo &r : records) {
      SCOPED_TRACE("frame of " + std::to_string(r.FrameLen) + " bytes, type " +
                   std::to_string(r.EtherType));
      EXPECT_TRUE(r.Payload.empty() || int32_t(r.Payload.size()) == r.PayloadLen);
      // Local time, whichever clock the engine stamps with.
      EXPECT_GE(r.CaptureTime, startedAt - second);
      EXPECT_LE(r.CaptureTime, now + second);
      if (engine == Engine::Raw) {
        EXPECT_EQ(r.EtherType, kEtherTypeIPv4);
        EXPECT_EQ(r.SrcMac, (std::array<uint8_t, 6>{}));
        EXPECT_EQ(r.IsSend, r.SrcAddr == a().addr);
      } else {
        EXPECT_EQ(r.IsSend, r.SrcMac == a().mac);
      }
    }
  }

  TestNetnsPair net_;
  RecordLog log_;
};

class NetnsTrafficTest : public NetnsCaptureTest, public ::testing::WithParamInterface<Engine> {
protected:
  void SetUp() override {
    NetnsCaptureTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    startedAt_ = LocalNow();
    capture_ = std::make_unique<CaptureOnA>(GetParam(), net_, log_);
    ASSERT_EQ(capture_->start(), "");
  }
  void TearDown() override { capture_.reset(); }

  // Stops the capture; then every counted packet must have been delivered.
  std::vector<TPacketInfo> stopAndCheckCounters() {
    capture_->stop();
    const std::vector<TPacketInfo> records = log_.records();
    EXPECT_EQ(capture_->counters(), countRecords(records));
    expectSaneRecords(records, GetParam(), startedAt_);
    return records;
  }

  std::unique_ptr<CaptureOnA> capture_;
  TDateTime startedAt_ = 0;
};

std::string engineName(const ::testing::TestParamInfo<Engine> &info) {
  return info.param == Engine::Driver ? "Driver" : "Raw";
}

void PrintTo(Engine engine, std::ostream *out) {
  *out << (engine == Engine::Driver ? "driver engine" : "raw engine");
}

INSTANTIATE_TEST_SUITE_P(Engines, NetnsTrafficTest, ::testing::Values(Engine::Driver, Engine::Raw),
                         engineName);

// ---------------------------------------------------------------------------
// Traffic seen by both engines

TEST_P(NetnsTrafficTest, EchoRequestsAndRepliesKeepTypeDirectionAndLength) {
  const auto requests = [ip = fromTo(b(), a(), kProtoIcmp)](const TPacketInfo &r) {
    return ip(r) && r.IcmpMsgType == 8;
  };
  const auto replies = [ip = fromTo(a(), b(), kProtoIcmp)](const TPacketInfo &r) {
    return ip(r) && r.IcmpMsgType == 0;
  };
  CommandOutput ping;
  {
    std::jthread pinger(
        [&] { ping = TestNetnsPair::exec(b(), "ping -n -c 3 -i 0.2 -W 2 " + a().addrText); });
    EXPECT_TRUE(waitUntil([&] { return log_.count(requests) >= 3 && log_.count(replies) >= 3; }))
        << log_.count(requests) << " requests and " << log_.count(replies) << " replies seen";
  }
  EXPECT_EQ(ping.status, 0) << ping.output;
  const std::vector<TPacketInfo> records = stopAndCheckCounters();

  for (const TPacketInfo &r : records) {
    const bool request = requests(r);
    if (!request && !replies(r))
      continue;
    SCOPED_TRACE(request ? "echo request" : "echo reply");
    EXPECT_EQ(r.IsSend, !request);
    // ping's 56 data bytes: 8 ICMP + 20 IPv4 + 14 Ethernet around them.
    EXPECT_EQ(r.FrameLen, 98);
    EXPECT_EQ(r.PayloadLen, 64); // the payload starts with the ICMP header
    ASSERT_EQ(r.Payload.size(), 64u);
    EXPECT_EQ(r.Payload.data()[0], r.IcmpMsgType);
    EXPECT_EQ(r.SrcPort, 0);
    EXPECT_EQ(r.DstPort, 0);
    EXPECT_EQ(r.TcpFlagWord, 0);
    if (GetParam() == Engine::Driver) {
      EXPECT_EQ(r.SrcMac, request ? b().mac : a().mac);
      EXPECT_EQ(r.DstMac, request ? a().mac : b().mac);
    }
  }
}

TEST_P(NetnsTrafficTest, UdpDatagramsKeepPortsAndPayloadBothWays) {
  constexpr uint16_t portA = 40002, portB = 40001;
  // Empty, tiny, ordinary and the largest unfragmented payload.
  const std::vector<Bytes> sent = {pattern(0, 1), pattern(1, 2), pattern(100, 3), pattern(1472, 4)};
  const Bytes answer = pattern(33, 9);

  Socket sink(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK); // opened in A: takes what B sends
  ASSERT_TRUE(bindTo(sink, a().addr, portA));
  std::atomic<bool> senderOk{false};
  Bytes answerReceived;
  {
    std::jthread sender = TestNetnsPair::runIn(b(), [&] {
      Socket s(AF_INET, SOCK_DGRAM);
      s.setTimeouts(5);
      if (!bindTo(s, b().addr, portB))
        return;
      bool ok = true;
      for (const Bytes &payload : sent)
        ok = sendUdp(s, a().addr, portA, payload) && ok;
      answerReceived = receiveExactly(s.fd, answer.size());
      senderOk = ok;
    });
    // Answer once A's socket has everything, so B's datagrams come first.
    size_t arrived = 0;
    EXPECT_TRUE(waitUntil([&] {
      uint8_t buffer[2048];
      while (recv(sink.fd, buffer, sizeof buffer, 0) >= 0)
        if (++arrived == sent.size())
          sendUdp(sink, b().addr, portB, answer);
      return arrived >= sent.size();
    })) << arrived
        << " datagrams arrived";
    EXPECT_TRUE(waitUntil([&] {
      return log_.count(udpCarrying(a(), b(), answer)) == 1 &&
             std::all_of(sent.begin(), sent.end(), [&](const Bytes &payload) {
               return log_.count(udpCarrying(b(), a(), payload)) == 1;
             });
    }));
  }
  EXPECT_TRUE(senderOk);
  EXPECT_EQ(answerReceived, answer);
  const std::vector<TPacketInfo> records = stopAndCheckCounters();

  for (const TPacketInfo &r : records) {
    const bool toA = fromTo(b(), a(), kProtoUdp)(r);
    if (!toA && !fromTo(a(), b(), kProtoUdp)(r))
      continue;
    SCOPED_TRACE("UDP of " + std::to_string(r.PayloadLen) + " bytes");
    EXPECT_EQ(r.IsSend, !toA);
    EXPECT_EQ(r.SrcPort, toA ? portB : portA);
    EXPECT_EQ(r.DstPort, toA ? portA : portB);
    EXPECT_EQ(r.FrameLen, 14 + 20 + 8 + r.PayloadLen);
    EXPECT_EQ(r.TcpFlagWord, 0);
    EXPECT_EQ(r.IcmpMsgType, 0);
  }
}

TEST_P(NetnsTrafficTest, TcpConnectionShowsHandshakeDataAndClose) {
  constexpr uint16_t port = 40010;
  const Bytes hello = pattern(100, 11), reply = pattern(50, 12);
  // Enough to leave B as segments merged by offload (longer than any engine
  // buffer): they must still be counted at their full length.
  const Bytes bulk = pattern(30000, 13);

  Socket listener(AF_INET, SOCK_STREAM); // in A, listening before B connects
  listener.setTimeouts(5);
  ASSERT_TRUE(bindTo(listener, a().addr, port));
  ASSERT_EQ(listen(listener.fd, 1), 0);

  std::atomic<bool> serverDone{false}, clientDone{false};
  Bytes helloAtA, replyAtB;
  int64_t bulkAtA = -2, clientEnd = -2;
  {
    std::jthread server = TestNetnsPair::runIn(a(), [&] {
      const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        const timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        helloAtA = receiveExactly(fd, hello.size());
        sendAll(fd, reply);
        bulkAtA = drainToEnd(fd);
        close(fd);
      }
      serverDone = true;
    });
    std::jthread client = TestNetnsPair::runIn(b(), [&] {
      Socket s(AF_INET, SOCK_STREAM);
      s.setTimeouts(5);
      const sockaddr_in to = endpoint(a().addr, port);
      if (connect(s.fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 &&
          sendAll(s.fd, hello)) {
        replyAtB = receiveExactly(s.fd, reply.size());
        if (sendAll(s.fd, bulk) && shutdown(s.fd, SHUT_WR) == 0)
          clientEnd = drainToEnd(s.fd);
      }
      clientDone = true;
    });
    const auto finFrom = [&](const NetnsSide &from, const NetnsSide &to) {
      return [ip = fromTo(from, to, kProtoTcp)](const TPacketInfo &r) {
        return ip(r) && (r.TcpFlagWord & kTcpFin);
      };
    };
    EXPECT_TRUE(waitUntil([&] {
      return serverDone && clientDone && log_.count(finFrom(a(), b())) >= 1 &&
             log_.count(finFrom(b(), a())) >= 1;
    }));
  }
  EXPECT_EQ(helloAtA, hello);
  EXPECT_EQ(replyAtB, reply);
  EXPECT_EQ(bulkAtA, int64_t(bulk.size()));
  EXPECT_EQ(clientEnd, 0);
  const std::vector<TPacketInfo> records = stopAndCheckCounters();

  int syns = 0, synAcks = 0, finsToA = 0, finsFromA = 0;
  int64_t dataToA = 0, dataFromA = 0;
  int32_t clientPort = -1;
  bool helloSeen = false, replySeen = false;
  for (const TPacketInfo &r : records) {
    const bool toA = fromTo(b(), a(), kProtoTcp)(r);
    if (!toA && !fromTo(a(), b(), kProtoTcp)(r))
      continue;
    SCOPED_TRACE("TCP flag word " + std::to_string(r.TcpFlagWord));
    EXPECT_EQ(r.IsSend, !toA);
    EXPECT_EQ(toA ? r.DstPort : r.SrcPort, port);
    const uint16_t flags = r.TcpFlagWord & 0x3F;
    if (flags == kTcpSyn && toA) {
      ++syns;
      clientPort = r.SrcPort;
    }
    synAcks += flags == (kTcpSyn | kTcpAck) && !toA;
    (toA ? finsToA : finsFromA) += (flags & kTcpFin) != 0;
    // Segment data from the true length: 20 bytes of IPv4 (Linux sends no
    // options) and the data offset in the upper 4 bits of the flag word.
    const int64_t data = r.FrameLen - 14 - 20 - (r.TcpFlagWord >> 12) * 4;
    (toA ? dataToA : dataFromA) += data;
    EXPECT_TRUE(data <= 0 || r.PayloadLen > 0);
    helloSeen |= toA && payloadOf(r) == hello;
    replySeen |= !toA && payloadOf(r) == reply;
  }
  EXPECT_EQ(syns, 1);
  EXPECT_EQ(synAcks, 1);
  EXPECT_GE(finsToA, 1);
  EXPECT_GE(finsFromA, 1);
  EXPECT_TRUE(helloSeen);
  EXPECT_TRUE(replySeen);
  EXPECT_EQ(dataToA, int64_t(hello.size() + bulk.size()));
  EXPECT_EQ(dataFromA, int64_t(reply.size()));
  for (const TPacketInfo &r : records) {
    if (fromTo(a(), b(), kProtoTcp)(r)) {
      EXPECT_EQ(r.DstPort, clientPort);
    }
  }
}

// ---------------------------------------------------------------------------
// The driver engine's own options and errors

class DriverCaptureTest : public NetnsCaptureTest {
protected:
  void SetUp() override {
    NetnsCaptureTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    ASSERT_TRUE(LoadPacketDll()) << "libpcap (Debian libpcap0.8) is needed by the driver engine";
    monitor_ = std::make_unique<TMonitorPcap>(); // lists side A's adapters
    monitor_->MonAdapter = a().dev;
    monitor_->OnPacketEvent = log_.receiver();
  }
  void TearDown() override { monitor_.reset(); }

  // Sends `payload` from B to A and waits until the capture delivered it.
  bool udpFromBSeen(const Bytes &payload) {
    std::jthread sender = TestNetnsPair::runIn(b(), [&] {
      Socket s(AF_INET, SOCK_DGRAM);
      sendUdp(s, a().addr, 40020, payload);
    });
    return waitUntil([&] { return log_.count(udpCarrying(b(), a(), payload)) == 1; });
  }

  std::unique_ptr<TMonitorPcap> monitor_;
};

TEST_F(DriverCaptureTest, PromiscuousOptionSetsTheInterfaceModeForTheCaptureOnly) {
  for (const bool promiscuous : {false, true}) {
    SCOPED_TRACE(promiscuous ? "promiscuous" : "not promiscuous");
    monitor_->Promiscuous = promiscuous;
    monitor_->StartCapture();
    ASSERT_TRUE(monitor_->Connected()) << monitor_->LastError();
    EXPECT_EQ(promiscuityOf(TestNetnsPair::linkDetails(a())), promiscuous ? 1 : 0)
        << TestNetnsPair::linkDetails(a());
    EXPECT_TRUE(udpFromBSeen(pattern(20, promiscuous)));
    monitor_->StopCapture();
    EXPECT_FALSE(monitor_->Connected());
    EXPECT_EQ(promiscuityOf(TestNetnsPair::linkDetails(a())), 0) << TestNetnsPair::linkDetails(a());
  }
}

TEST_F(DriverCaptureTest, NonIpFramesAreDeliveredUnlessIgnoreNonIP) {
  const Bytes arp = arpRequest(b(), a());
  const Bytes arpPayload(arp.begin() + 14, arp.end());
  const auto ourArp = [&](const TPacketInfo &r) {
    return r.EtherType == kEtherTypeArp && r.SrcMac == b().mac && payloadOf(r) == arpPayload;
  };
  const auto answerFromA = [&](const TPacketInfo &r) {
    return r.EtherType == kEtherTypeArp && r.SrcMac == a().mac;
  };

  for (const bool ignoreNonIP : {false, true}) {
    SCOPED_TRACE(ignoreNonIP ? "IgnoreNonIP on" : "IgnoreNonIP off");
    RecordLog log;
    monitor_->OnPacketEvent = log.receiver();
    monitor_->IgnoreNonIP = ignoreNonIP;
    const TDateTime startedAt = LocalNow();
    monitor_->StartCapture();
    ASSERT_TRUE(monitor_->Connected()) << monitor_->LastError();

    // The datagram leaves B after the ARP frame, from the same thread and
    // through the same veth, so once it is seen the ARP frame has passed
    // the capture too.
    const Bytes marker = pattern(24, 40 + ignoreNonIP);
    {
      std::jthread sender = TestNetnsPair::runIn(b(), [&] {
        EXPECT_TRUE(sendFrame(b(), arp));
        Socket s(AF_INET, SOCK_DGRAM);
        EXPECT_TRUE(sendUdp(s, a().addr, 40030, marker));
      });
    }
    if (ignoreNonIP) {
      EXPECT_TRUE(waitUntil([&] { return log.count(udpCarrying(b(), a(), marker)) == 1; }));
      // A's ARP answer is on its way too; give it time to be (wrongly) seen.
      pumpEventsFor(300ms);
    } else {
      EXPECT_TRUE(waitUntil([&] {
        return log.count(udpCarrying(b(), a(), marker)) == 1 && log.count(ourArp) == 1 &&
               log.count(answerFromA) >= 1;
      }));
    }
    monitor_->StopCapture();
    const std::vector<TPacketInfo> records = log.records();
    EXPECT_EQ(countersOf(*monitor_), countRecords(records));
    expectSaneRecords(records, Engine::Driver, startedAt);

    const auto nonIp = std::count_if(records.begin(), records.end(), [](const TPacketInfo &r) {
      return r.EtherType != kEtherTypeIPv4;
    });
    if (ignoreNonIP) {
      EXPECT_EQ(nonIp, 0);
      continue;
    }
    for (const TPacketInfo &r : records) {
      if (!ourArp(r) && !answerFromA(r))
        continue;
      EXPECT_EQ(r.IsSend, answerFromA(r));
      EXPECT_EQ(r.PayloadLen, r.FrameLen - 14);
      EXPECT_EQ(r.SrcAddr, 0u);
      EXPECT_EQ(r.DstAddr, 0u);
      EXPECT_EQ(r.IpProto, 0);
      EXPECT_EQ(r.SrcPort, 0);
      EXPECT_EQ(r.DstPort, 0);
      EXPECT_EQ(r.IcmpMsgType, 0);
      EXPECT_EQ(r.TcpFlagWord, 0);
      if (ourArp(r)) {
        EXPECT_EQ(r.FrameLen, 60);
        EXPECT_EQ(r.PayloadLen, 46);
        EXPECT_EQ(r.DstMac, (std::array<uint8_t, 6>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
      }
    }
  }
}

TEST_F(DriverCaptureTest, StartRefusesWhatItCannotCaptureAndKeepsARunningCapture) {
  monitor_->StopCapture(); // idle: nothing to stop, nothing may break
  EXPECT_FALSE(monitor_->Connected());

  monitor_->MonAdapter = "";
  monitor_->StartCapture();
  EXPECT_FALSE(monitor_->Connected());
  EXPECT_EQ(monitor_->LastError(), "No Adaptors Found to Monitor");

  monitor_->MonAdapter = "vtnone0";
  monitor_->StartCapture();
  EXPECT_FALSE(monitor_->Connected());
  EXPECT_THAT(monitor_->LastError(), HasSubstr("vtnone0"));

  monitor_->MonAdapter = a().dev;
  monitor_->StartCapture();
  ASSERT_TRUE(monitor_->Connected()) << monitor_->LastError();
  monitor_->StartCapture();
  EXPECT_EQ(monitor_->LastError(), "PCap Driver Already Running");
  EXPECT_TRUE(monitor_->Connected());
  EXPECT_TRUE(udpFromBSeen(pattern(30, 50))) << "the first capture stopped";
  monitor_->StopCapture();
  EXPECT_FALSE(monitor_->Connected());
}

TEST_F(DriverCaptureTest, StopReturnsWithinAboutOneReadTimeout) {
  // A stop wakes the thread's read; at worst it waits for the 100 ms read
  // time-out. 400 ms leaves room for a loaded build machine. On an idle
  // link libpcap's read (TPACKET_V3) waits for the next packet however long
  // that takes, so a missed wake-up would hang the stop: after twice the
  // limit a packet from B ends the wait, and the test fails instead of hanging.
  constexpr auto kLimit = 400ms;
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    monitor_->StartCapture();
    ASSERT_TRUE(monitor_->Connected()) << monitor_->LastError();
    EXPECT_TRUE(udpFromBSeen(pattern(10, uint8_t(60 + run))));
    // Let the thread settle into a read that waits for packets that do not
    // come: the case where a stop could wait longest.
    pumpEventsFor(250ms);
    std::atomic<bool> stopped{false};
    const auto before = Clock::now();
    std::jthread nudger = TestNetnsPair::runIn(b(), [&] {
      Socket s(AF_INET, SOCK_DGRAM);
      while (!stopped) {
        if (Clock::now() > before + 2 * kLimit)
          sendUdp(s, a().addr, 40050, pattern(1, 0));
        std::this_thread::sleep_for(50ms);
      }
    });
    monitor_->StopCapture();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    stopped = true;
    EXPECT_LE(took, kLimit) << "StopCapture took " << took.count() << " ms";
    EXPECT_FALSE(monitor_->Connected());
  }
}

// ---------------------------------------------------------------------------
// The raw engine's own errors, and the raw engine without libpcap

TEST_F(NetnsCaptureTest, RawStartOnAnAddressNotHeldHereFailsLikeBind) {
  // B's address is real, but in another namespace: not local to A.
  for (const std::string &addr :
       {b().addrText, a().addrText.substr(0, a().addrText.size() - 1) + "77"}) {
    SCOPED_TRACE(addr);
    TMonitorSocket monitor;
    monitor.Addr = addr;
    try {
      monitor.StartCapture();
      ADD_FAILURE() << "StartCapture succeeded";
    } catch (const ECaptureError &e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("Error 99 in function bind", 0), 0u) << message;
      EXPECT_THAT(message, HasSubstr(std::string("\n") + std::strerror(EADDRNOTAVAIL)));
    }
    monitor.StopCapture();
    EXPECT_FALSE(monitor.IsOpen());
  }
}

TEST_F(NetnsCaptureTest, RawEngineServesWhenLibpcapCannotBeLoaded) {
  if (libpcapLoadedInThisProcess()) {
    // An earlier test of this program loaded libpcap, and a loaded library
    // stays loaded: run this case alone in a fresh process instead.
    ASSERT_EQ(std::getenv("VANTOR_NETNS_FRESH_PROCESS"), nullptr)
        << "libpcap is loaded before any test ran";
    const ::testing::TestInfo *me = ::testing::UnitTest::GetInstance()->current_test_info();
    const CommandOutput child =
        RunCommand("VANTOR_NETNS_FRESH_PROCESS=1 /proc/" + std::to_string(getpid()) +
                   "/exe --gtest_filter=" + me->test_suite_name() + "." + me->name());
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_THAT(child.output, HasSubstr("[  PASSED  ] 1 test")) << child.output;
    return;
  }
  {
    ScopedEnv missing("VANTOR_LIBPCAP", "/nonexistent/vantor-test/libpcap-missing.so.1");
    EXPECT_FALSE(LoadPacketDll());
    EXPECT_FALSE(LoadPacketDll()) << "the second attempt must fail the same way";

    RecordLog log;
    CaptureOnA capture(Engine::Raw, net_, log);
    ASSERT_EQ(capture.start(), "");
    const std::vector<Bytes> sent = {pattern(10, 70), pattern(200, 71), pattern(1000, 72)};
    {
      std::jthread sender = TestNetnsPair::runIn(b(), [&] {
        Socket s(AF_INET, SOCK_DGRAM);
        for (const Bytes &payload : sent)
          EXPECT_TRUE(sendUdp(s, a().addr, 40040, payload));
      });
    }
    EXPECT_TRUE(waitUntil([&] {
      return std::all_of(sent.begin(), sent.end(), [&](const Bytes &payload) {
        return log.count(udpCarrying(b(), a(), payload)) == 1;
      });
    }));
    capture.stop();
    EXPECT_EQ(capture.counters(), countRecords(log.records()));
  }
  // A failed load is not remembered: without the variable libpcap loads.
  EXPECT_TRUE(LoadPacketDll());
}

} // namespace
