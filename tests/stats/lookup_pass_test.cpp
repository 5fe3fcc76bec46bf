#include "stats/system_resolver.h"
#include "stats/traffic_class.h"

#include "tests/stats/stats_packets.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records every request; the test decides when and how each one completes.
class ScriptedResolver : public TReverseResolver {
public:
  void Lookup(const std::string &addressText) override {
    requests.push_back(addressText);
    outstanding = true; // abandons an older request
    if (onLookup)
      onLookup();
  }
  // Answers the newest request.
  void Finish(int errorCode, const std::string &hostName) {
    outstanding = false;
    complete(errorCode, requests.empty() ? std::string() : requests.back(), hostName);
  }
  // Answers an older request, as a resolver whose answer was already on its
  // way when the pass replaced the request would.
  void FinishFor(const std::string &addressText, int errorCode, const std::string &hostName) {
    complete(errorCode, addressText, hostName);
  }

  std::vector<std::string> requests;
  bool outstanding = false;
  std::function<void()> onLookup;
};

class LookupPass : public testing::Test {
protected:
  LookupPass() {
    auto resolver = std::make_unique<ScriptedResolver>();
    resolver_ = resolver.get();
    table_ = std::make_unique<TTrafficClass>(std::move(resolver));
  }

  void add(const char *local, const char *remote) {
    table_->AddPacket(Conversation(local, remote));
    table_->UpdateServices();
  }
  // The conversation with this remote address.
  const TTrafficInfo &entry(const char *remote) {
    for (int32_t i = 0; i < table_->TotTraffic(); ++i)
      if (table_->GetTraffic(i)->RemoteIP == Ip(remote))
        return *table_->GetTraffic(i);
    ADD_FAILURE() << "no conversation with " << remote;
    static const TTrafficInfo none;
    return none;
  }
  // Answers every request, the new ones it causes included, until the pass is over.
  void answerAll(int errorCode, const std::string &hostName = "") {
    for (int guard = 0; resolver_->outstanding && guard < 1000; ++guard)
      resolver_->Finish(errorCode, hostName);
  }
  size_t requestsFor(const char *address) const {
    return size_t(std::count(resolver_->requests.begin(), resolver_->requests.end(), address));
  }
  using Requests = std::vector<std::string>;

  ScriptedResolver *resolver_ = nullptr;
  std::unique_ptr<TTrafficClass> table_;
};

TEST_F(LookupPass, LooksUpTheLocalThenTheRemoteNameAndStoresThemInLowerCase) {
  add("192.168.1.10", "10.0.0.1");
  EXPECT_EQ(resolver_->requests, Requests{"192.168.1.10"});
  resolver_->Finish(0, "MyHost.LAN");
  EXPECT_EQ(resolver_->requests, (Requests{"192.168.1.10", "10.0.0.1"}));
  // Only the letters A to Z are lowered; other bytes stay as they came.
  resolver_->Finish(0, "Server-\xC3\x84.Example.COM");
  EXPECT_FALSE(resolver_->outstanding);
  EXPECT_EQ(entry("10.0.0.1").LocalHost, "myhost.lan");
  EXPECT_EQ(entry("10.0.0.1").RemoteHost, "server-\xC3\x84.example.com");
  EXPECT_EQ(entry("10.0.0.1").Lookups, 2);
}

TEST_F(LookupPass, LocalNameIsCopiedFromTheEntryRightBeforeWithTheSameAddress) {
  add("192.168.1.10", "10.0.0.1");
  add("192.168.1.10", "10.0.0.2"); // restarts: the first entry is asked again
  add("192.168.1.20", "10.0.0.3");
  add("192.168.1.10", "10.0.0.4"); // follows another local address: no copy
  resolver_->Finish(0, "me");
  resolver_->Finish(0, "other");
  resolver_->Finish(0, "me-again");
  answerAll(1);
  EXPECT_EQ(resolver_->requests, (Requests{"192.168.1.10", "192.168.1.10", "192.168.1.10",
                                           "192.168.1.10", "192.168.1.20", "192.168.1.10",
                                           "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}));
  EXPECT_EQ(entry("10.0.0.2").LocalHost, "me");
  EXPECT_EQ(entry("10.0.0.2").Lookups, 1); // its remote name only
  EXPECT_EQ(entry("10.0.0.3").LocalHost, "other");
  EXPECT_EQ(entry("10.0.0.4").LocalHost, "me-again");
  EXPECT_EQ(entry("10.0.0.4").Lookups, 2);
}

TEST_F(LookupPass, AnEntryIsTriedSixTimesAtMostCountingBothAddresses) {
  add("192.168.1.1", "10.0.0.1");
  for (int pass = 2; pass <= 6; ++pass) {
    answerAll(1); // every lookup fails
    const std::string n = std::to_string(pass);
    add(("192.168.2." + n).c_str(), ("10.0.2." + n).c_str());
  }
  answerAll(1);
  EXPECT_EQ(requestsFor("192.168.1.1") + requestsFor("10.0.0.1"), 6u);
  EXPECT_EQ(requestsFor("192.168.1.1"), 3u); // each pass asks for the local name first
  EXPECT_EQ(entry("10.0.0.1").Lookups, 6);
  EXPECT_EQ(entry("10.0.2.6").Lookups, 2);
  for (int32_t i = 0; i < table_->TotTraffic(); ++i)
    EXPECT_LE(table_->GetTraffic(i)->Lookups, 6);
  EXPECT_TRUE(entry("10.0.0.1").LocalHost.empty() && entry("10.0.0.1").RemoteHost.empty());
}

TEST_F(LookupPass, ANewConversationRestartsThePassFromTheFirstEntry) {
  add("192.168.1.1", "10.0.0.1");
  add("192.168.1.2", "10.0.0.2");
  resolver_->Finish(0, "a");
  resolver_->Finish(0, "b");
  ASSERT_EQ(resolver_->requests.back(), "10.0.0.1"); // into the remote phase
  add("192.168.1.3", "10.0.0.3");                    // the remote lookup is abandoned
  resolver_->Finish(0, "c");
  resolver_->Finish(0, "ra");
  resolver_->Finish(0, "rb");
  resolver_->Finish(0, "rc");
  EXPECT_FALSE(resolver_->outstanding);
  EXPECT_EQ(resolver_->requests, (Requests{"192.168.1.1", "192.168.1.1", "192.168.1.2", "10.0.0.1",
                                           "192.168.1.3", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(entry("10.0.0.1").LocalHost, "a");
  EXPECT_EQ(entry("10.0.0.1").RemoteHost, "ra");
  EXPECT_EQ(entry("10.0.0.2").LocalHost, "b");
  EXPECT_EQ(entry("10.0.0.2").RemoteHost, "rb");
  EXPECT_EQ(entry("10.0.0.3").LocalHost, "c");
  EXPECT_EQ(entry("10.0.0.3").RemoteHost, "rc");
}

// The resolver delivers an answer, and before the table takes its lock the
// capture thread starts a new conversation, which replaces the request: the
// answer that was already on its way must not name the replacement's entry.
TEST_F(LookupPass, AnAnswerToAReplacedRequestNamesNothing) {
  add("192.168.1.1", "10.0.0.1");
  resolver_->Finish(0, "a");
  ASSERT_EQ(resolver_->requests.back(), "10.0.0.1"); // the remote phase
  add("192.168.1.2", "10.0.0.2");                    // restarts: asks for 192.168.1.2
  ASSERT_EQ(resolver_->requests.back(), "192.168.1.2");
  resolver_->FinishFor("10.0.0.1", 0, "stale.example");
  EXPECT_TRUE(entry("10.0.0.2").LocalHost.empty());
  EXPECT_TRUE(entry("10.0.0.1").RemoteHost.empty());
  EXPECT_EQ(resolver_->requests.back(), "192.168.1.2") << "the pass still waits for its request";
  resolver_->Finish(0, "b");
  EXPECT_EQ(entry("10.0.0.2").LocalHost, "b");
}

TEST_F(LookupPass, OnceEverythingIsNamedOnlyNewConversationsCauseQueries) {
  for (int i = 1; i <= 5; ++i)
    add(("192.168.1." + std::to_string(i)).c_str(), ("10.0.0." + std::to_string(i)).c_str());
  answerAll(0, "named");
  const size_t sent = resolver_->requests.size();
  add("192.168.1.1", "10.0.0.1"); // known conversations
  add("192.168.1.5", "10.0.0.5");
  EXPECT_EQ(resolver_->requests.size(), sent);
  EXPECT_FALSE(resolver_->outstanding);
  add("192.168.1.9", "10.0.0.9");
  answerAll(0, "new");
  EXPECT_EQ(Requests(resolver_->requests.begin() + std::ptrdiff_t(sent), resolver_->requests.end()),
            (Requests{"192.168.1.9", "10.0.0.9"}));
  EXPECT_EQ(entry("10.0.0.9").LocalHost, "new");
  EXPECT_EQ(entry("10.0.0.5").RemoteHost, "named");
}

TEST_F(LookupPass, ACompletionAfterClearNamesNothing) {
  for (int i = 1; i <= 4; ++i)
    add(("192.168.1." + std::to_string(i)).c_str(), ("10.0.0." + std::to_string(i)).c_str());
  for (int i = 0; i < 7; ++i)
    resolver_->Finish(0, "x");
  ASSERT_EQ(resolver_->requests.back(), "10.0.0.4"); // waiting on the last entry
  table_->Clear();
  resolver_->Finish(0, "late"); // its entry no longer exists
  EXPECT_EQ(table_->TotTraffic(), 0);
  EXPECT_EQ(resolver_->requests.size(), 11u);
  // The next conversation starts a new pass that the late answer did not touch.
  add("192.168.1.1", "10.0.0.1");
  EXPECT_EQ(resolver_->requests.back(), "192.168.1.1");
  EXPECT_TRUE(entry("10.0.0.1").LocalHost.empty());
  EXPECT_EQ(entry("10.0.0.1").Lookups, 1);
  resolver_->Finish(0, "fresh");
  EXPECT_EQ(entry("10.0.0.1").LocalHost, "fresh");
}

TEST_F(LookupPass, CompletionsRunUnderTheTableLock) {
  std::recursive_mutex lock;
  table_->SetLock(&lock);
  std::vector<bool> heldByOther;
  resolver_->onLookup = [&] {
    const bool free = std::async(std::launch::async, [&] {
                        const bool got = lock.try_lock();
                        if (got)
                          lock.unlock();
                        return got;
                      }).get();
    heldByOther.push_back(!free);
  };
  {
    // As the packet handler does: AddPacket under the lock.
    std::lock_guard guard(lock);
    add("192.168.1.1", "10.0.0.1");
  }
  resolver_->Finish(0, "a"); // the next request is sent from inside LookupDone
  resolver_->Finish(0, "b");
  EXPECT_EQ(heldByOther, (std::vector<bool>{true, true}));
  EXPECT_EQ(entry("10.0.0.1").RemoteHost, "b");
}

// ---- Through the system's resolver --------------------------------------

// Whether /etc/hosts gives 127.0.0.1 a name, so the lookup needs no network.
bool hostsNameLoopback() {
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    std::istringstream words(line);
    std::string address, name;
    if (words >> address >> name && address == "127.0.0.1" && name[0] != '#')
      return true;
  }
  return false;
}

TEST(LookupPassSystemResolver, NamesLoopbackInLowerCase) {
  if (!hostsNameLoopback())
    GTEST_SKIP() << "/etc/hosts has no name for 127.0.0.1";
  std::recursive_mutex lock;
  TTrafficClass table(std::make_unique<TSystemResolver>());
  table.SetLock(&lock);
  {
    std::lock_guard guard(lock);
    table.AddPacket(Conversation("127.0.0.1", "127.0.0.1"));
  }
  std::string local, remote;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (remote.empty() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents();
    {
      std::lock_guard guard(lock);
      local = table.GetTraffic(0)->LocalHost;
      remote = table.GetTraffic(0)->RemoteHost;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(local.empty());
  EXPECT_EQ(remote, local);
  EXPECT_EQ(std::count_if(local.begin(), local.end(), [](char c) { return c >= 'A' && c <= 'Z'; }),
            0)
      << local;
  std::lock_guard guard(lock);
  EXPECT_EQ(table.GetTraffic(0)->Lookups, 2);
}

} // namespace
