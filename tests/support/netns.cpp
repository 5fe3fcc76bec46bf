#include "tests/support/netns.h"

#include "packet/text_format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *kNetnsDir = "/var/run/netns/";

std::atomic<int> pairsMade{0};

std::string errnoText(int err) {
  char buffer[256];
  return strerror_r(err, buffer, sizeof buffer);
}

bool enterNamespace(const std::string &ns, std::string &error) {
  const std::string path = kNetnsDir + ns;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "open " + path + ": " + errnoText(errno);
    return false;
  }
  const bool entered = setns(fd, CLONE_NEWNET) == 0;
  if (!entered)
    error = "setns " + path + ": " + errnoText(errno);
  close(fd);
  return entered;
}

// Pairs left behind by a test program that was killed: their names carry
// the pid of a process that no longer exists.
void removeStalePairs() {
  DIR *dir = opendir(kNetnsDir);
  if (!dir)
    return;
  const std::string prefix = "vantor-";
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) != 0)
      continue;
    const int pid = std::atoi(name.c_str() + prefix.size());
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
      RunCommand("ip netns del " + name);
  }
  closedir(dir);
}

std::string macText(const std::array<uint8_t, 6> &mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

} // namespace

CommandOutput RunCommand(const std::string &command) {
  CommandOutput result;
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    result.output = "popen: " + errnoText(errno);
    return result;
  }
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
    result.output.append(chunk, n);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  return result;
}

TestNetnsPair::TestNetnsPair() {
  const int pid = int(getpid());
  const int serial = pairsMade.fetch_add(1);
  // Each pair gets its own /24, so a frame that strays from one pair into
  // another test's capture can never be mistaken for its own.
  const int subnet = 1 + (pid + serial) % 254;
  const std::string prefix = "10.231." + std::to_string(subnet) + ".";
  const std::string stem = "vantor-" + std::to_string(pid) + "-" + std::to_string(serial);
  a_.ns = stem + "-a";
  b_.ns = stem + "-b";
  // Interface names live inside the new namespaces, so short fixed names
  // cannot collide (and must fit IFNAMSIZ).
  a_.dev = "vta" + std::to_string(serial % 1000);
  b_.dev = "vtb" + std::to_string(serial % 1000);
  a_.addrText = prefix + "1";
  b_.addrText = prefix + "2";
  a_.addr = TextToAddr(a_.addrText);
  b_.addr = TextToAddr(b_.addrText);
  a_.mac = {0x02, 0x76, 0x6e, uint8_t(subnet), uint8_t(serial), 0x01};
  b_.mac = {0x02, 0x76, 0x6e, uint8_t(subnet), uint8_t(serial), 0x02};
  static std::once_flag staleRemoved;
  std::call_once(staleRemoved, removeStalePairs);
  ready_ = create();
  if (!ready_)
    destroy();
}

TestNetnsPair::~TestNetnsPair() {
  destroy();
}

bool TestNetnsPair::step(const std::string &command, bool required) {
  const CommandOutput run = RunCommand(command);
  if (run.status == 0 || !required)
    return true;
  std::string output = run.output;
  while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back())))
    output.pop_back();
  error_ = "cannot set up the test network namespaces: `" + command + "` failed (status " +
           std::to_string(run.status) + "): " + output;
  if (geteuid() != 0)
    error_ += " (not running as root: network namespaces need CAP_SYS_ADMIN and CAP_NET_ADMIN)";
  return false;
}

bool TestNetnsPair::create() {
  if (RunCommand("ip -V").status != 0) {
    error_ = "cannot set up the test network namespaces: iproute2's `ip` is not available";
    return false;
  }
  if (!step("ip netns add " + a_.ns))
    return false;
  nsACreated_ = true;
  if (!step("ip netns add " + b_.ns))
    return false;
  nsBCreated_ = true;
  for (const NetnsSide *side : {&a_, &b_}) {
    // Without IPv6 no router solicitations or MLD reports show up in the
    // captures; a kernel without IPv6 has nothing to turn off.
    step("ip netns exec " + side->ns +
             " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1",
         false);
  }
  if (!step("ip link add " + a_.dev + " netns " + a_.ns + " address " + macText(a_.mac) +
            " type veth peer name " + b_.dev + " netns " + b_.ns + " address " + macText(b_.mac)))
    return false;
  for (const NetnsSide *side : {&a_, &b_}) {
    if (!step("ip -n " + side->ns + " addr add " + side->addrText + "/24 dev " + side->dev) ||
        !step("ip -n " + side->ns + " link set lo up") ||
        !step("ip -n " + side->ns + " link set " + side->dev + " up"))
      return false;
  }
  return true;
}

void TestNetnsPair::destroy() {
  leave();
  // The veth goes first: a socket left open somewhere would keep namespace
  // A, and with it the pair, alive after its name is gone.
  if (nsACreated_) {
    RunCommand("ip -n " + a_.ns + " link del " + a_.dev);
    RunCommand("ip netns del " + a_.ns);
    nsACreated_ = false;
  }
  if (nsBCreated_) {
    RunCommand("ip netns del " + b_.ns);
    nsBCreated_ = false;
  }
}

bool TestNetnsPair::enterA() {
  if (originalNs_ >= 0) {
    error_ = "enterA called twice";
    return false;
  }
  originalNs_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (originalNs_ < 0) {
    error_ = "open /proc/thread-self/ns/net: " + errnoText(errno);
    return false;
  }
  if (!enterNamespace(a_.ns, error_)) {
    close(originalNs_);
    originalNs_ = -1;
    return false;
  }
  enteredBy_ = std::this_thread::get_id();
  return true;
}

void TestNetnsPair::leave() {
  if (originalNs_ < 0)
    return;
  if (enteredBy_ != std::this_thread::get_id())
    ADD_FAILURE() << "TestNetnsPair::leave called on a thread that did not enter side A";
  else if (setns(originalNs_, CLONE_NEWNET) != 0)
    ADD_FAILURE() << "setns back to the original namespace: " << errnoText(errno);
  close(originalNs_);
  originalNs_ = -1;
}

std::jthread TestNetnsPair::runIn(const NetnsSide &side, std::function<void()> body) {
  return std::jthread([ns = side.ns, body = std::move(body)] {
    std::string error;
    if (!enterNamespace(ns, error)) {
      ADD_FAILURE() << error;
      return;
    }
    body();
  });
}

CommandOutput TestNetnsPair::exec(const NetnsSide &side, const std::string &command) {
  return RunCommand("ip netns exec " + side.ns + " " + command);
}

std::string TestNetnsPair::linkDetails(const NetnsSide &side) {
  return RunCommand("ip -n " + side.ns + " -d link show " + side.dev).output;
}
