// Runs one capture engine on one interface for bench/capture-loss and counts
// the UDP datagrams to one port that it delivers. Prints "ready" once the
// capture runs, and one result line when it ends (SIGINT, SIGTERM or
// --seconds): the datagrams seen, the engine's counters and how long the
// stop took.
#include "capture/capture_error.h"
#include "capture/monitor_pcap.h"
#include "capture/monitor_socket.h"
#include "capture/pcap_binding.h"
#include "packet/packet_info.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/option_walk.h"

namespace {

struct Options {
  std::string engine;
  std::string dev;
  std::string addr;
  int port = 0;
  double seconds = 0; // 0: until a signal
  bool ignoreData = false;
};

[[noreturn]] void usage(const char *why) {
  std::fprintf(stderr,
               "capture_count: %s\n"
               "usage: capture_count --engine driver|raw --dev INTERFACE --addr LOCAL_ADDR\n"
               "                     --port UDP_PORT [--seconds S] [--ignore-data]\n",
               why);
  std::exit(2);
}

Options parse(int argc, char **argv) {
  Options o;
  const std::string problem = WalkOptions(
      argc, argv,
      [&](const std::string &name) {
        if (name != "--ignore-data")
          return false;
        o.ignoreData = true;
        return true;
      },
      [&](const std::string &name, const char *value) {
        if (name == "--engine") {
          o.engine = value;
          return true;
        }
        if (name == "--dev") {
          o.dev = value;
          return true;
        }
        if (name == "--addr") {
          o.addr = value;
          return true;
        }
        if (name == "--port") {
          o.port = std::atoi(value);
          return true;
        }
        if (name == "--seconds") {
          o.seconds = std::atof(value);
          return true;
        }
        return false;
      });
  if (!problem.empty())
    usage(problem.c_str());
  if ((o.engine != "driver" && o.engine != "raw") || o.port <= 0 || o.port > 65535)
    usage("--engine driver|raw and --port are required");
  if (o.engine == "driver" && o.dev.empty())
    usage("the driver engine needs --dev");
  if (o.engine == "raw" && o.addr.empty())
    usage("the raw engine needs --addr");
  return o;
}

// Counts what a real receiver would get, but keeps only the stream under
// test, so stray ARP or other frames do not count. The driver engine calls
// it on its capture thread, the raw engine on this one; either way the count
// is read only after the capture has stopped.
struct StreamCounter {
  uint16_t port;
  int64_t matched = 0;
  void operator()(TPacketSource &, const TPacketInfo &info) {
    if (info.EtherType == kEtherTypeIPv4 && info.IpProto == kProtoUdp && info.DstPort == port)
      ++matched;
  }
};

} // namespace

int main(int argc, char **argv) {
  const Options o = parse(argc, argv);

  // Signals are taken through a descriptor on the event loop; blocked before
  // any thread exists, so the capture thread never receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0) {
    std::perror("capture_count: signalfd");
    return 1;
  }

  QCoreApplication app(argc, argv);
  QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  if (o.seconds > 0)
    QTimer::singleShot(int(o.seconds * 1000), &app, &QCoreApplication::quit);

  auto counter = std::make_shared<StreamCounter>(StreamCounter{uint16_t(o.port)});
  const TPacketEvent receiver = [counter](TPacketSource &sender, const TPacketInfo &info) {
    (*counter)(sender, info);
  };

  std::unique_ptr<TMonitorPcap> driver;
  std::unique_ptr<TMonitorSocket> raw;
  if (o.engine == "driver") {
    if (!LoadPacketDll()) {
      std::fprintf(stderr, "capture_count: libpcap cannot be loaded\n");
      return 1;
    }
    driver = std::make_unique<TMonitorPcap>();
    driver->MonAdapter = o.dev;
    driver->Addr = o.addr;
    driver->IgnoreData = o.ignoreData;
    driver->OnPacketEvent = receiver;
    driver->StartCapture();
    if (!driver->Connected()) {
      std::fprintf(stderr, "capture_count: %s\n", driver->LastError().c_str());
      return 1;
    }
  } else {
    raw = std::make_unique<TMonitorSocket>();
    raw->Addr = o.addr;
    raw->IgnoreData = o.ignoreData;
    raw->OnPacketEvent = receiver;
    try {
      raw->StartCapture();
    } catch (const ECaptureError &e) {
      std::fprintf(stderr, "capture_count: %s\n", e.what());
      return 1;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);

  app.exec();

  const auto stopStarted = std::chrono::steady_clock::now();
  driver ? driver->StopCapture() : raw->StopCapture();
  const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - stopStarted)
                          .count();
  const auto print = [&](const auto &engine) {
    std::printf("matched=%lld recv_packets=%d recv_bytes=%lld send_packets=%d send_bytes=%lld "
                "stop_ms=%lld\n",
                (long long)counter->matched, engine.TotRecvPackets(),
                (long long)engine.TotRecvBytes(), engine.TotSendPackets(),
                (long long)engine.TotSendBytes(), (long long)stopMs);
  };
  driver ? print(*driver) : print(*raw);
  close(signalFd);
  return 0;
}
