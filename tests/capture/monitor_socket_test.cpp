#include "capture/capture_error.h"
#include "capture/monitor_socket.h"

#include "tests/support/datagram_builder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLocal = 0x0501A8C0; // 192.168.1.5 in network byte order

// A monitor prepared on 192.168.1.5 that records what it delivers.
class HandleDatagramTest : public ::testing::Test {
protected:
  void SetUp() override {
    monitor.Addr = "192.168.1.5";
    monitor.OnPacketEvent = [this](TPacketSource &sender, const TPacketInfo &info) {
      EXPECT_EQ(&sender, static_cast<TPacketSource *>(&monitor));
      delivered.push_back(info);
    };
  }

  void feed(const std::vector<uint8_t> &datagram) {
    monitor.HandleDatagram(datagram, datagram.size());
  }

  static std::vector<uint8_t> datagram(std::vector<uint8_t> src, std::vector<uint8_t> dst,
                                       size_t payloadBytes = 20) {
    DatagramShape shape;
    shape.src = std::move(src);
    shape.dst = std::move(dst);
    shape.payload = Filled(payloadBytes, 'a');
    return BuildDatagram(shape);
  }

  TMonitorSocket monitor;
  std::vector<TPacketInfo> delivered;
};

TEST_F(HandleDatagramTest, CountsByTheSourceAddressOnly) {
  struct Case {
    const char *name;
    std::vector<uint8_t> src, dst;
    bool isSend;
  };
  const Case cases[] = {
      {"from Addr", {192, 168, 1, 5}, {10, 0, 0, 1}, true},
      {"to Addr", {10, 0, 0, 1}, {192, 168, 1, 5}, false},
      {"from Addr to itself", {192, 168, 1, 5}, {192, 168, 1, 5}, true},
      {"neither", {10, 0, 0, 1}, {10, 0, 0, 2}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    monitor.PrepareCapture();
    delivered.clear();
    const auto d = datagram(c.src, c.dst);
    ASSERT_EQ(d.size(), 60u);
    feed(d);
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.FrameLen, 74);
    EXPECT_EQ(info.EtherType, 0x0800);
    EXPECT_EQ(info.IsSend, c.isSend);
    EXPECT_EQ(info.SrcMac, (std::array<uint8_t, 6>{}));
    EXPECT_EQ(info.SrcPort, 1025);
    EXPECT_EQ(info.DstPort, 80);
    EXPECT_EQ(info.TcpFlagWord, 0x5018);
    EXPECT_EQ(info.PayloadLen, 20);
    EXPECT_EQ(info.Payload.view(), "abcdefghijklmnopqrst");
    EXPECT_GT(info.CaptureTime, 0.0);
    EXPECT_EQ(monitor.TotSendBytes(), c.isSend ? 74 : 0);
    EXPECT_EQ(monitor.TotSendPackets(), c.isSend ? 1 : 0);
    EXPECT_EQ(monitor.TotRecvBytes(), c.isSend ? 0 : 74);
    EXPECT_EQ(monitor.TotRecvPackets(), c.isSend ? 0 : 1);
  }
}

TEST_F(HandleDatagramTest, IgnoreLanDropsInsideTheSubnetOnlyWithAMask) {
  struct Case {
    const char *mask;
    bool ignoreLan;
    const char *storedMask;
    bool dropsLan; // 192.168.1.5 -> 192.168.1.9 and anything -> 0.0.0.0
  };
  const Case cases[] = {
      {"255.255.255.0", true, "255.255.255.0", true},
      {" \t255.255.255.0\r\n", true, "255.255.255.0", true},
      {"255.255.255.0", false, "255.255.255.0", false},
      {"", true, "", false},
      {"   ", true, "", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("mask '") + c.mask + "'");
    monitor.AddrMask = c.mask;
    monitor.IgnoreLAN = c.ignoreLan;
    monitor.PrepareCapture();
    EXPECT_EQ(monitor.AddrMask, c.storedMask);
    delivered.clear();

    feed(datagram({192, 168, 1, 5}, {192, 168, 1, 9}));
    feed(datagram({10, 0, 0, 7}, {0, 0, 0, 0}));
    feed(datagram({192, 168, 1, 5}, {10, 0, 0, 1}));

    const int lanCount = c.dropsLan ? 0 : 2;
    EXPECT_EQ(int(delivered.size()), lanCount + 1);
    EXPECT_EQ(monitor.TotSendPackets(), (c.dropsLan ? 0 : 1) + 1);
    EXPECT_EQ(monitor.TotSendBytes(), monitor.TotSendPackets() * 74);
    EXPECT_EQ(monitor.TotRecvPackets(), c.dropsLan ? 0 : 1);
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back().DstAddr, 0x0100000Au) << "the datagram leaving the subnet";
  }
}

TEST_F(HandleDatagramTest, WithoutAReceiverDatagramsAreCountedOnly) {
  monitor.OnPacketEvent = nullptr;
  monitor.PrepareCapture();
  feed(datagram({192, 168, 1, 5}, {10, 0, 0, 1}));
  feed(datagram({10, 0, 0, 1}, {192, 168, 1, 5}, 100));
  EXPECT_EQ(monitor.TotSendPackets(), 1);
  EXPECT_EQ(monitor.TotSendBytes(), 74);
  EXPECT_EQ(monitor.TotRecvPackets(), 1);
  EXPECT_EQ(monitor.TotRecvBytes(), 154);
}

TEST_F(HandleDatagramTest, PrepareCaptureStartsTheCountersAgain) {
  monitor.PrepareCapture();
  feed(datagram({192, 168, 1, 5}, {10, 0, 0, 1}));
  feed(datagram({10, 0, 0, 1}, {192, 168, 1, 5}));
  ASSERT_EQ(monitor.TotSendPackets() + monitor.TotRecvPackets(), 2);
  monitor.Addr = "10.0.0.1";
  monitor.PrepareCapture();
  EXPECT_EQ(monitor.TotSendPackets(), 0);
  EXPECT_EQ(monitor.TotRecvPackets(), 0);
  EXPECT_EQ(monitor.TotSendBytes(), 0);
  EXPECT_EQ(monitor.TotRecvBytes(), 0);
  delivered.clear();
  feed(datagram({10, 0, 0, 1}, {192, 168, 1, 5}));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(delivered[0].IsSend) << "the new Addr decides";
}

// Offload hands over datagrams far beyond the buffer: counted in full, the
// payload taken only from the bytes received.
TEST_F(HandleDatagramTest, DatagramBeyondTheBufferCountsItsTrueLength) {
  DatagramShape shape;
  shape.src = {10, 0, 0, 1};
  shape.dst = {192, 168, 1, 5};
  shape.payload = Filled(9000 - 40, 1);
  const auto big = BuildDatagram(shape);
  ASSERT_EQ(big.size(), 9000u);
  const size_t offset = 40;
  const std::span<const uint8_t> received(big.data(), TMonitorSocket::kBufferSize);

  struct Case {
    const char *name;
    std::span<const uint8_t> bytes;
    bool ignoreData;
  };
  const Case cases[] = {
      {"2001 bytes received", received, false},
      {"more bytes offered than the buffer holds", big, false},
      {"IgnoreData", received, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    monitor.IgnoreData = c.ignoreData;
    monitor.PrepareCapture();
    delivered.clear();
    monitor.HandleDatagram(c.bytes, 9000);
    ASSERT_EQ(delivered.size(), 1u);
    const TPacketInfo &info = delivered[0];
    EXPECT_EQ(info.FrameLen, 9014);
    EXPECT_EQ(monitor.TotRecvBytes(), 9014);
    EXPECT_EQ(info.PayloadLen, int32_t(2001 - offset));
    if (c.ignoreData) {
      EXPECT_TRUE(info.Payload.empty());
    } else {
      ASSERT_EQ(info.Payload.size(), 2001 - offset);
      EXPECT_EQ(0, std::memcmp(info.Payload.data(), big.data() + offset, 2001 - offset));
    }
  }
}

TEST_F(HandleDatagramTest, IgnoreDataMeasuresButDoesNotCopy) {
  monitor.IgnoreData = true;
  monitor.PrepareCapture();
  feed(datagram({10, 0, 0, 1}, {192, 168, 1, 5}, 20));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].PayloadLen, 20);
  EXPECT_TRUE(delivered[0].Payload.empty());
}

TEST_F(HandleDatagramTest, ShortAndEmptyDatagramsAreSafe) {
  monitor.PrepareCapture();
  monitor.HandleDatagram({}, 0);
  const auto d = datagram({192, 168, 1, 5}, {10, 0, 0, 1});
  monitor.HandleDatagram(std::span<const uint8_t>(d.data(), 14), 14); // addresses cut off
  monitor.HandleDatagram(std::span<const uint8_t>(d.data(), 24), 60); // ports cut off
  ASSERT_EQ(delivered.size(), 3u);
  EXPECT_EQ(delivered[0].FrameLen, 14);
  EXPECT_EQ(delivered[0].SrcAddr, 0u);
  EXPECT_EQ(delivered[0].IpProto, 0);
  EXPECT_TRUE(delivered[0].Payload.empty());
  EXPECT_EQ(delivered[1].SrcAddr, 0u);
  EXPECT_FALSE(delivered[1].IsSend);
  EXPECT_EQ(delivered[2].SrcAddr, kLocal);
  EXPECT_TRUE(delivered[2].IsSend);
  EXPECT_EQ(delivered[2].FrameLen, 74);
  EXPECT_EQ(delivered[2].SrcPort, 1025) << "the first four TCP bytes were present";
  EXPECT_EQ(delivered[2].TcpFlagWord, 0);
  EXPECT_LE(delivered[2].PayloadLen, 24 - 20) << "never past the bytes present";
  EXPECT_EQ(delivered[2].Payload.size(), size_t(std::max(delivered[2].PayloadLen, 0)));
  EXPECT_EQ(monitor.TotRecvPackets(), 2);
  EXPECT_EQ(monitor.TotSendPackets(), 1);
}

TEST(SocketErrorMessage, NamesTheCallAndTheErrno) {
  EXPECT_EQ(SocketErrorMessage(EPERM, "socket"),
            std::string("Error 1 in function socket\n") + std::strerror(EPERM));
  EXPECT_FALSE(ErrnoText(123456).empty());
  try {
    ThrowSocketError(ENODEV, "setsockopt");
    FAIL() << "no exception";
  } catch (const ECaptureError &e) {
    EXPECT_EQ(std::string(e.what()), SocketErrorMessage(ENODEV, "setsockopt"));
  }
}

TEST(MonitorSocketStart, AnAddressNoInterfaceHoldsFailsLikeBind) {
  // 192.0.2.0/24 is reserved for documentation (RFC 5737), held by nobody.
  for (const char *addr : {"192.0.2.77", "not an address", ""}) {
    SCOPED_TRACE(addr);
    TMonitorSocket monitor;
    monitor.Addr = addr;
    try {
      monitor.StartCapture();
      FAIL() << "StartCapture succeeded";
    } catch (const ECaptureError &e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Error 99 in function bind\n") + std::strerror(EADDRNOTAVAIL));
    }
    monitor.StopCapture();
    EXPECT_FALSE(monitor.IsOpen());
  }
}

// Capabilities are per thread: the monitor is started on a thread that gave
// up CAP_NET_RAW, as an ordinary user's program without file capabilities.
TEST(MonitorSocketStart, WithoutCapNetRawTheSocketCallFails) {
  std::string message;
  std::string setupFailure;
  bool stillOpen = true;
  std::thread worker([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
      setupFailure = std::string("capget: ") + std::strerror(errno);
      return;
    }
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    if (syscall(SYS_capset, &header, data) != 0) {
      setupFailure = std::string("capset: ") + std::strerror(errno);
      return;
    }
    TMonitorSocket monitor;
    monitor.Addr = "127.0.0.1";
    try {
      monitor.StartCapture();
    } catch (const ECaptureError &e) {
      message = e.what();
    }
    monitor.StopCapture();
    stillOpen = monitor.IsOpen();
  });
  worker.join();
  ASSERT_EQ(setupFailure, "");
  EXPECT_EQ(message, std::string("Error 1 in function socket\n") + std::strerror(EPERM));
  EXPECT_FALSE(stillOpen);
}

// A real capture on the loopback interface. Only traffic the test sends to
// itself on 127.0.0.1 is looked at.
class LoopbackCaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "capturing needs CAP_NET_RAW; run as root";
    sink_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sink_, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(sink_, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
    socklen_t len = sizeof local;
    ASSERT_EQ(getsockname(sink_, reinterpret_cast<sockaddr *>(&local), &len), 0);
    port_ = ntohs(local.sin_port);
    source_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(source_, 0);

    monitor.Addr = "127.0.0.1";
    monitor.OnPacketEvent = [this](TPacketSource &, const TPacketInfo &info) {
      if (info.IpProto == 17 && info.DstPort == port_) {
        probes.push_back(info);
        if (onProbe)
          onProbe();
      }
    };
  }

  void TearDown() override {
    monitor.StopCapture();
    if (sink_ >= 0)
      close(sink_);
    if (source_ >= 0)
      close(source_);
  }

  void send(const std::vector<uint8_t> &payload) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port_);
    ASSERT_EQ(sendto(source_, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to),
              ssize_t(payload.size()))
        << std::strerror(errno);
  }

  // Runs the event loop until `count` probes arrived or the time is up, then
  // a little longer so that a duplicate would show.
  void processEventsFor(size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (probes.size() < count && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while (std::chrono::steady_clock::now() < settle)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  TMonitorSocket monitor;
  std::vector<TPacketInfo> probes;
  std::function<void()> onProbe;
  int sink_ = -1;
  int source_ = -1;
  uint16_t port_ = 0;
};

TEST_F(LoopbackCaptureTest, ReadsOwnDatagramOnceAndStopsReading) {
  monitor.StartCapture();
  ASSERT_TRUE(monitor.IsOpen());
  const auto payload = BytesOf("vantor loopback probe");
  send(payload);
  processEventsFor(1, std::chrono::seconds(5));
  ASSERT_EQ(probes.size(), 1u) << "loopback datagrams must be counted once";
  const TPacketInfo &info = probes[0];
  EXPECT_TRUE(info.IsSend) << "from Addr to itself";
  EXPECT_EQ(info.SrcAddr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(info.DstAddr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(info.FrameLen, int32_t(payload.size() + 28 + 14));
  EXPECT_EQ(info.PayloadLen, int32_t(payload.size()));
  EXPECT_EQ(info.Payload.view(), "vantor loopback probe");
  EXPECT_GE(monitor.TotSendBytes(), info.FrameLen);
  EXPECT_GE(monitor.TotSendPackets(), 1);

  monitor.StopCapture();
  EXPECT_FALSE(monitor.IsOpen());
  const int32_t sentAfterStop = monitor.TotSendPackets();
  send(payload);
  processEventsFor(2, std::chrono::milliseconds(200));
  EXPECT_EQ(probes.size(), 1u) << "nothing is read after StopCapture";
  EXPECT_EQ(monitor.TotSendPackets(), sentAfterStop) << "counters keep their values";
}

TEST_F(LoopbackCaptureTest, DatagramLargerThanTheBufferCountsInFull) {
  monitor.StartCapture();
  const auto payload = Filled(5000, 7);
  send(payload);
  processEventsFor(1, std::chrono::seconds(5));
  ASSERT_EQ(probes.size(), 1u);
  const TPacketInfo &info = probes[0];
  EXPECT_EQ(info.FrameLen, 5000 + 28 + 14);
  EXPECT_EQ(info.PayloadLen, TMonitorSocket::kBufferSize - 28);
  ASSERT_EQ(info.Payload.size(), size_t(TMonitorSocket::kBufferSize - 28));
  EXPECT_EQ(0, std::memcmp(info.Payload.data(), payload.data(), info.Payload.size()));
}

TEST_F(LoopbackCaptureTest, ReceiverMayStopTheCapture) {
  monitor.StartCapture();
  onProbe = [this] { monitor.StopCapture(); };
  for (int i = 0; i < 3; ++i)
    send(BytesOf("probe"));
  processEventsFor(1, std::chrono::seconds(5));
  EXPECT_EQ(probes.size(), 1u) << "reading ends with the capture";
  EXPECT_FALSE(monitor.IsOpen());
}

} // namespace
