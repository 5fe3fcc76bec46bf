// Sends a paced stream of small UDP datagrams for bench/capture-loss: the
// datagrams go out in batches (sendmmsg), each batch at the moment the
// target rate makes it due by the monotonic clock, so the load on the
// capturer is steady rather than one burst.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/option_walk.h"
#include <vector>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
// Batches this far apart keep the stream smooth while a batch still saves
// most of the per-call cost.
constexpr int64_t kBatchSpacingNanos = 100000;
constexpr int kMostBatch = 256;

struct Options {
  std::string to;
  int port = 0;
  int64_t count = 200000;
  int64_t rate = 50000;
  int size = 18;
  int batch = 0; // 0: from the rate
  bool sink = false;
};

[[noreturn]] void usage(const char *why) {
  std::fprintf(stderr,
               "udp_flood: %s\n"
               "usage: udp_flood --to ADDR --port PORT [--count N] [--rate PER_SECOND]\n"
               "                 [--size PAYLOAD_BYTES] [--batch DATAGRAMS]\n"
               "       udp_flood --sink --to LOCAL_ADDR --port PORT\n",
               why);
  std::exit(2);
}

Options parse(int argc, char **argv) {
  Options o;
  const std::string problem = WalkOptions(
      argc, argv,
      [&](const std::string &name) {
        if (name != "--sink")
          return false;
        o.sink = true;
        return true;
      },
      [&](const std::string &name, const char *value) {
        if (name == "--to") {
          o.to = value;
          return true;
        }
        if (name == "--port") {
          o.port = std::atoi(value);
          return true;
        }
        if (name == "--count") {
          o.count = std::atoll(value);
          return true;
        }
        if (name == "--rate") {
          o.rate = std::atoll(value);
          return true;
        }
        if (name == "--size") {
          o.size = std::atoi(value);
          return true;
        }
        if (name == "--batch") {
          o.batch = std::atoi(value);
          return true;
        }
        return false;
      });
  if (!problem.empty())
    usage(problem.c_str());
  if (o.to.empty() || o.port <= 0 || o.port > 65535)
    usage("--to and --port are required");
  if (o.count <= 0 || o.rate <= 0 || o.size < 0 || o.size > 1472 || o.batch < 0)
    usage("count and rate must be positive, size 0 to 1472");
  if (o.batch == 0)
    o.batch =
        int(std::clamp<int64_t>(o.rate * kBatchSpacingNanos / kNanosPerSecond, 1, kMostBatch));
  o.batch = std::min(o.batch, kMostBatch);
  return o;
}

// Holds the port open on the receiving side until a signal ends the process:
// without a socket every datagram would also cost the receiver an attempt at
// a "port unreachable" answer. Nothing is read; once the small buffer is full
// the kernel drops the rest cheaply.
int sink(const sockaddr_in &at) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int small = 4096;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) {
    std::perror("udp_flood: sink");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  pause();
  return 0;
}

int64_t monotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

void sleepUntil(int64_t nanos) {
  const timespec due{time_t(nanos / kNanosPerSecond), long(nanos % kNanosPerSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

} // namespace

int main(int argc, char **argv) {
  const Options o = parse(argc, argv);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(o.port));
  if (inet_pton(AF_INET, o.to.c_str(), &to.sin_addr) != 1)
    usage("--to is not an IPv4 address");
  if (o.sink)
    return sink(to);

  // Not connected: A answers the datagrams with "port unreachable", and a
  // connected socket would turn that into send errors.
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::perror("udp_flood: socket");
    return 1;
  }
  // Wake-ups on time: the default timer slack would make most batches late.
  prctl(PR_SET_TIMERSLACK, 1UL);

  // One payload per batch slot; each carries its sequence number so a
  // capture could tell which datagrams it missed.
  std::vector<std::vector<uint8_t>> payloads(size_t(o.batch), std::vector<uint8_t>(size_t(o.size)));
  std::vector<iovec> iov(size_t(o.batch));
  std::vector<mmsghdr> messages(size_t(o.batch));
  for (size_t i = 0; i < size_t(o.batch); ++i) {
    iov[i] = {payloads[i].data(), payloads[i].size()};
    messages[i] = {};
    messages[i].msg_hdr.msg_name = &to;
    messages[i].msg_hdr.msg_namelen = sizeof to;
    messages[i].msg_hdr.msg_iov = &iov[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }

  int64_t next = 0, sent = 0, failed = 0, late = 0;
  int firstError = 0;
  const int64_t start = monotonicNanos();
  while (next < o.count) {
    const int64_t due = start + next * kNanosPerSecond / o.rate;
    if (monotonicNanos() > due + kBatchSpacingNanos)
      ++late; // behind: send at once and let the clock catch up
    else
      sleepUntil(due);
    const int n = int(std::min<int64_t>(o.batch, o.count - next));
    for (int i = 0; i < n; ++i) {
      const uint64_t sequence = uint64_t(next + i);
      std::memcpy(payloads[size_t(i)].data(), &sequence,
                  std::min(sizeof sequence, payloads[size_t(i)].size()));
    }
    int done = 0;
    while (done < n) {
      const int r = sendmmsg(fd, messages.data() + done, unsigned(n - done), 0);
      if (r > 0) {
        sent += r;
        done += r;
      } else if (!(r < 0 && errno == EINTR)) {
        // The kernel refused this datagram (ENOBUFS and the like): it is
        // not on the wire and must not count as sent.
        if (failed++ == 0)
          firstError = errno;
        ++done;
      }
    }
    next += n;
  }
  const double seconds = double(monotonicNanos() - start) / kNanosPerSecond;
  close(fd);
  std::printf(
      "sent=%lld failed=%lld seconds=%.3f rate=%.0f target=%lld batch=%d late_batches=%lld\n",
      (long long)sent, (long long)failed, seconds, double(sent) / seconds, (long long)o.rate,
      o.batch, (long long)late);
  if (failed > 0)
    std::fprintf(stderr, "udp_flood: %lld datagrams refused, the first with: %s\n",
                 (long long)failed, std::strerror(firstError));
  return failed == 0 ? 0 : 1;
}
