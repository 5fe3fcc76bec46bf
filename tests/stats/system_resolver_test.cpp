#include "stats/system_resolver.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Completion {
  int code;
  std::string name;
  std::thread::id thread;
};

// Runs the Qt event loop of this thread until done() holds or the limit passes.
bool processEventsUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    QCoreApplication::processEvents();
    if (done())
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(1ms);
  }
}

// Runs the event loop for a while, for checks that something does NOT happen.
void processEventsFor(std::chrono::milliseconds span) {
  processEventsUntil([] { return false; }, span);
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The names /etc/hosts gives 127.0.0.1, lower-cased; empty when it gives none.
std::vector<std::string> loopbackNamesInHosts() {
  std::vector<std::string> names;
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string address, name;
    if (!(fields >> address) || address != "127.0.0.1")
      continue;
    while (fields >> name)
      names.push_back(lowerCase(name));
  }
  return names;
}

// A resolver whose completions are recorded, with the thread each ran on.
class SystemResolverTest : public ::testing::Test {
protected:
  void SetUp() override { makeResolver(); }

  void makeResolver() {
    resolver_ = std::make_unique<TSystemResolver>();
    resolver_->SetCompletion([this](int code, const std::string &, const std::string &name) {
      completions_.push_back({code, name, std::this_thread::get_id()});
    });
  }

  bool waitForCompletions(size_t count) {
    return processEventsUntil([&] { return completions_.size() >= count; });
  }

  std::unique_ptr<TSystemResolver> resolver_;
  std::vector<Completion> completions_;
  const std::thread::id mainThread_ = std::this_thread::get_id();
};

TEST_F(SystemResolverTest, LoopbackResolvesThroughHostsOnTheCreatingThread) {
  const std::vector<std::string> names = loopbackNamesInHosts();
  if (names.empty())
    GTEST_SKIP() << "/etc/hosts has no name for 127.0.0.1, so no lookup is sure to succeed";

  // The capture thread starts lookups too; its completions still come here.
  for (const bool fromOtherThread : {false, true}) {
    SCOPED_TRACE(fromOtherThread ? "requested from another thread" : "requested here");
    completions_.clear();
    if (fromOtherThread)
      std::thread([this] { resolver_->Lookup("127.0.0.1"); }).join();
    else
      resolver_->Lookup("127.0.0.1");

    ASSERT_TRUE(waitForCompletions(1)) << "no completion within the time limit";
    const Completion &done = completions_.front();
    EXPECT_EQ(done.code, 0);
    EXPECT_EQ(done.thread, mainThread_);
    EXPECT_NE(std::find(names.begin(), names.end(), lowerCase(done.name)), names.end())
        << "\"" << done.name << "\" is not a name /etc/hosts gives 127.0.0.1";
  }
}

TEST_F(SystemResolverTest, TextsThatAreNoIpv4AddressFail) {
  const char *const texts[] = {"",           "localhost", "256.1.1.1",  "1.2.3",
                               "127.0.0.1 ", "::1",       "127.0.0.1.5"};
  for (const char *text : texts) {
    SCOPED_TRACE(std::string("text \"") + text + "\"");
    completions_.clear();
    resolver_->Lookup(text);
    ASSERT_TRUE(waitForCompletions(1)) << "no completion within the time limit";
    EXPECT_NE(completions_.front().code, 0);
    EXPECT_EQ(completions_.front().name, "");
    EXPECT_EQ(completions_.front().thread, mainThread_);
  }
}

// Every request made before the event loop runs again supersedes the earlier
// ones, whether the worker had not started them, is running one or has
// already queued its completion. The pause only chooses which of these cases
// the earlier request is in; the outcome must not depend on it.
TEST_F(SystemResolverTest, OnlyTheNewestOfSeveralRequestsCompletes) {
  const bool loopbackNamed = !loopbackNamesInHosts().empty();
  struct Case {
    const char *what;
    std::vector<std::string> requests;
    std::chrono::milliseconds pause; // between the requests, without running the event loop
  };
  const Case cases[] = {
      {"name then failure", {"127.0.0.1", "bad"}, 0ms},
      {"failure then name", {"bad", "127.0.0.1"}, 0ms},
      {"name then failure, first one finished", {"127.0.0.1", "bad"}, 50ms},
      {"failure then name, first one finished", {"bad", "127.0.0.1"}, 50ms},
      {"burst ending in a failure", {"127.0.0.1", "x", "127.0.0.1", "y", "127.0.0.1", "z"}, 0ms},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    completions_.clear();
    for (const std::string &request : c.requests) {
      if (&request != &c.requests.front())
        std::this_thread::sleep_for(c.pause);
      resolver_->Lookup(request);
    }
    ASSERT_TRUE(waitForCompletions(1)) << "no completion within the time limit";
    // The worker queues completions in request order, so any completion of an
    // earlier request would already have run by now.
    QCoreApplication::processEvents();
    ASSERT_EQ(completions_.size(), 1u);
    const bool lastIsLoopback = c.requests.back() == "127.0.0.1";
    if (lastIsLoopback && !loopbackNamed)
      continue; // without a name for 127.0.0.1 both kinds of request fail alike
    EXPECT_EQ(completions_.front().code == 0, lastIsLoopback);
  }
}

TEST_F(SystemResolverTest, RequestsFromSeveralThreadsAreAllSupersededByTheNewest) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this] {
      for (int i = 0; i < 200; ++i)
        resolver_->Lookup(i % 2 ? "127.0.0.1" : "no address");
    });
  for (std::thread &thread : threads)
    thread.join();
  resolver_->Lookup("still no address");

  ASSERT_TRUE(waitForCompletions(1)) << "no completion within the time limit";
  QCoreApplication::processEvents();
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_NE(completions_.front().code, 0) << "a completion of an older request arrived";
}

TEST_F(SystemResolverTest, DestroyedResolverDeliversNothing) {
  // With no pause the worker is most likely still at the request; with one it
  // has most likely queued the completion already. Either way nothing may run
  // after the resolver is gone (the address sanitizer would also see it).
  for (const auto pause : {0ms, 50ms}) {
    SCOPED_TRACE("pause of " + std::to_string(pause.count()) + " ms before destruction");
    makeResolver();
    resolver_->Lookup("127.0.0.1");
    resolver_->Lookup("bad"); // fails without asking anyone, so it is quickly queued
    std::this_thread::sleep_for(pause);
    resolver_.reset();
    processEventsFor(200ms);
    EXPECT_TRUE(completions_.empty());
  }
}

} // namespace
