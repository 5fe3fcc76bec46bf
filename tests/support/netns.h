#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// Exit status and combined standard output and error of one command.
struct CommandOutput {
  int status = -1; // the exit code; -1 when the command could not be run or was killed
  std::string output;
};

// Runs `command` through /bin/sh and waits for it.
CommandOutput RunCommand(const std::string &command);

// One end of a TestNetnsPair.
struct NetnsSide {
  std::string ns;       // name under /var/run/netns
  std::string dev;      // the veth end inside it
  std::string addrText; // its IPv4 address, dotted
  uint32_t addr = 0;    // the same, network byte order
  std::array<uint8_t, 6> mac{};
};

// Two network namespaces joined by a veth pair: side A holds 10.231.N.1/24,
// side B 10.231.N.2/24, both ends and both loopbacks up, IPv6 off so that no
// stray neighbour discovery reaches a capture. Names carry the process id, so
// parallel runs never meet. Everything is removed by the destructor, also
// when a test fails half-way. Needs root (or CAP_SYS_ADMIN and CAP_NET_ADMIN)
// and iproute2's `ip`; when either is missing ready() is false and error()
// says why, so the caller can skip.
class TestNetnsPair {
public:
  TestNetnsPair();
  ~TestNetnsPair();
  TestNetnsPair(const TestNetnsPair &) = delete;
  TestNetnsPair &operator=(const TestNetnsPair &) = delete;

  bool ready() const { return ready_; }
  const std::string &error() const { return error_; }
  const NetnsSide &a() const { return a_; }
  const NetnsSide &b() const { return b_; }
  static constexpr const char *kMask = "255.255.255.0";

  // Moves the calling thread into side A: sockets it opens and threads it
  // starts from then on live there. Only that thread is affected; /sys/class/net
  // still shows the namespace /sys was mounted in. False with error() set when
  // setns fails.
  bool enterA();
  // Puts the thread that called enterA back into its earlier namespace. The
  // destructor does this too, so it must run on that same thread.
  void leave();

  // A new thread that enters `side` first and then runs `body`; it is joined
  // when the returned object is destroyed. A failed setns is reported as a
  // test failure and `body` does not run.
  static std::jthread runIn(const NetnsSide &side, std::function<void()> body);

  // `command` (a program and its arguments, no shell syntax) run inside
  // `side` with `ip netns exec`.
  static CommandOutput exec(const NetnsSide &side, const std::string &command);
  // The output of `ip -n NS -d link show DEV`: promiscuity and the like.
  static std::string linkDetails(const NetnsSide &side);

private:
  bool create();
  void destroy();
  bool step(const std::string &command, bool required = true);

  bool ready_ = false;
  std::string error_;
  NetnsSide a_;
  NetnsSide b_;
  bool nsACreated_ = false;
  bool nsBCreated_ = false;
  int originalNs_ = -1; // the entering thread's namespace while inside A
  std::thread::id enteredBy_;
};
