#include "filters/builtin_handlers.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"

#include "tests/filters/output_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Call {
  int handler;
  const void *data;
  int32_t size;
  TOutputProc output;
};
std::vector<Call> gCalls;

// A distinct entry point per N, each recording its calls and writing one item.
template <int N> int32_t recorder(const void *data, int32_t size, TOutputProc output) {
  gCalls.push_back({N, data, size, output});
  output(("handler " + std::to_string(N)).c_str());
  return 0;
}

class HandlerTable : public ::testing::Test {
protected:
  void SetUp() override {
    ClearFilterProcs();
    RegisterBuiltinHandlers();
    ASSERT_EQ(FilterProcCount, 3);
    gItems.clear();
    gCalls.clear();
    filter_.OutProc = sink;
  }
  void TearDown() override { ClearFilterProcs(); }

  TIPFilter filter_;
};

TEST_F(HandlerTable, FindsBuiltInRowByExactNames) {
  int32_t index = 99;
  EXPECT_EQ(FindFilterProc("Internal", "FL_DumpMessage", index), &FL_DumpMessage);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(FindFilterProc("Internal", "FL_PrintTextMessage", index), &FL_PrintTextMessage);
  EXPECT_EQ(index, 2);
}

TEST_F(HandlerTable, LookupIsCaseSensitiveAndMissGivesMinusOne) {
  const struct {
    const char *dll;
    const char *proc;
  } misses[] = {{"internal", "FL_DumpMessage"},
                {"Internal", "fl_dumpmessage"},
                {"Internal", "FL_DumpMessage "},
                {"LTDns.so", "FL_DumpMessage"},
                {"", ""}};
  for (const auto &miss : misses) {
    int32_t index = 7;
    EXPECT_EQ(FindFilterProc(miss.dll, miss.proc, index), nullptr) << miss.dll << "/" << miss.proc;
    EXPECT_EQ(index, -1) << miss.dll << "/" << miss.proc;
  }
}

TEST_F(HandlerTable, SameProcedureNameInTwoModulesKeepsSeparateRows) {
  ASSERT_TRUE(AddFilterProc({recorder<1>, "LTa.so", "Show", "a"}));
  ASSERT_TRUE(AddFilterProc({recorder<2>, "LTb.so", "Show", "b"}));
  int32_t index = 0;
  EXPECT_EQ(FindFilterProc("LTb.so", "Show", index), &recorder<2>);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(FindFilterProc("LTa.so", "Show", index), &recorder<1>);
  EXPECT_EQ(index, 3);
}

TEST_F(HandlerTable, FullTableRefusesFurtherRows) {
  while (FilterProcCount < kMaxFilterProcs)
    ASSERT_TRUE(AddFilterProc({recorder<1>, "LTa.so", "P" + std::to_string(FilterProcCount), ""}));
  EXPECT_FALSE(AddFilterProc({recorder<2>, "LTb.so", "Late", ""}));
  EXPECT_EQ(FilterProcCount, kMaxFilterProcs);
  int32_t index = 0;
  EXPECT_EQ(FindFilterProc("LTb.so", "Late", index), nullptr);
  EXPECT_EQ(FindFilterProc("LTa.so", "P127", index), &recorder<1>);
  EXPECT_EQ(index, 127);
}

TEST_F(HandlerTable, ChainStopsAtFirstEmptyRowAndPassesSameRecord) {
  filter_.Procs[0] = {recorder<1>, "LTa.so", "One", ""};
  filter_.Procs[1] = {recorder<2>, "LTa.so", "Two", ""};
  filter_.Procs[2] = {recorder<3>, "LTa.so", "Three", ""};
  filter_.Procs[4] = {recorder<4>, "LTa.so", "Four", ""}; // behind the empty row 3
  filter_.ProcCount = 5;                                  // the empty row decides, not the count
  const TFilterPacket packet{};
  CallHandlers(filter_, &packet, 64);
  ASSERT_EQ(gCalls.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(gCalls[size_t(i)].handler, i + 1);
    EXPECT_EQ(gCalls[size_t(i)].data, &packet);
    EXPECT_EQ(gCalls[size_t(i)].size, 64);
    EXPECT_EQ(gCalls[size_t(i)].output, &sink);
  }
  EXPECT_EQ(gItems, (std::vector<std::string>{"handler 1", "handler 2", "handler 3"}));
}

TEST_F(HandlerTable, FullChainCallsAllSixtyFourRows) {
  for (TCustFilters &row : filter_.Procs)
    row = {recorder<1>, "LTa.so", "One", ""};
  const TFilterPacket packet{};
  CallHandlers(filter_, &packet, 64);
  EXPECT_EQ(gCalls.size(), size_t(kMaxProcsPerFilter));
}

TEST_F(HandlerTable, ChainWithoutOutputCallbackCallsNothing) {
  filter_.Procs[0] = {recorder<1>, "LTa.so", "One", ""};
  filter_.OutProc = nullptr;
  const TFilterPacket packet{};
  CallHandlers(filter_, &packet, 64);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(HandlerTable, NotificationsReachEveryHandlerWithSizeEight) {
  filter_.Procs[0] = {recorder<1>, "LTa.so", "One", ""};
  filter_.Procs[1] = {FL_PrintStdHead, "Internal", "FL_PrintStdHead", ""};
  filter_.Procs[2] = {recorder<2>, "LTa.so", "Two", ""};
  for (const std::string text : {"CAPSTAT", "CAPSTOP"}) {
    gCalls.clear();
    gItems.clear();
    if (text == "CAPSTAT")
      NotifyCapStat(filter_);
    else
      NotifyCapStop(filter_);
    ASSERT_EQ(gCalls.size(), 2u) << text;
    for (const Call &call : gCalls) {
      EXPECT_EQ(call.size, 8);
      EXPECT_EQ(std::string(static_cast<const char *>(call.data)), text);
      EXPECT_TRUE(IsNotification(call.data, call.size));
    }
    // The built-in handler in between writes nothing; the others' items arrive.
    EXPECT_EQ(gItems, (std::vector<std::string>{"handler 1", "handler 2"})) << text;
  }
}

} // namespace
