// The statistics page's texts as ticks bring them up to date: the summary,
// the row texts, and what each refresh reports as changed.
#include "pipeline/statistics_view.h"

#include "packet/text_separators.h"
#include "stats/traffic_class.h"
#include "tests/stats/stats_packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using Cells = std::vector<std::pair<int32_t, int32_t>>;

class StatisticsView : public ::testing::Test {
protected:
  void SetUp() override { SetTextSeparators(TextSeparators{".", ",", ":"}); }
  void refresh() { view_.Refresh(table_, texts_); }

  TTrafficClass table_;
  TSummaryTexts texts_;
  TStatisticsView view_;
};

TEST_F(StatisticsView, SummaryUsesShortSizesGroupedCountsAndTheLanguageTexts) {
  // 1536 bytes in 1234 packets sent, 20971520 bytes in 5678 packets received.
  for (int i = 0; i < 1233; ++i)
    table_.AddPacket(PortPacket(true, "10.0.0.1", 40000, "10.0.0.2", 80, 1));
  table_.AddPacket(PortPacket(true, "10.0.0.1", 40000, "10.0.0.2", 80, 1536 - 1233));
  const int32_t each = 20971520 / 5678;
  for (int i = 0; i < 5677; ++i)
    table_.AddPacket(PortPacket(false, "10.0.0.2", 80, "10.0.0.1", 40000, each));
  table_.AddPacket(PortPacket(false, "10.0.0.2", 80, "10.0.0.1", 40000, 20971520 - each * 5677));

  refresh();
  EXPECT_EQ(view_.Summary(),
            "Bytes Sent 1.50K, Received 20.0M\r\nPackage Sent 1,234, Received 5,678");
  EXPECT_TRUE(view_.SummaryChanged());
  refresh();
  EXPECT_FALSE(view_.SummaryChanged());

  texts_.Received = "Recv";
  refresh();
  EXPECT_EQ(view_.Summary(), "Bytes Sent 1.50K, Recv 20.0M\r\nPackage Sent 1,234, Recv 5,678");
}

TEST_F(StatisticsView, OneConversationGivesOneRowAndTheTotalsAndItsService) {
  table_.AddPacket(PortPacket(true, "192.168.1.5", 40000, "10.1.2.3", 80, 100));
  table_.AddPacket(PortPacket(false, "10.1.2.3", 80, "192.168.1.5", 40000, 1500));
  refresh();
  ASSERT_EQ(view_.TrafficRows().size(), 1u);
  EXPECT_EQ(view_.TrafficRows()[0], (TTrafficRowTexts{"192.168.1.5", "10.1.2.3", "TCP", "80",
                                                      "http", "100", "1500", "1", "1"}));
  ASSERT_EQ(view_.ServiceRows().size(), 2u);
  EXPECT_EQ(view_.ServiceRows()[0], (TServiceRowTexts{"TOTALS", "100", "1500", "1", "1", "1"}));
  EXPECT_EQ(view_.ServiceRows()[1], (TServiceRowTexts{"http", "100", "1500", "1", "1", "1"}));
  EXPECT_EQ(view_.TrafficChange().FirstAppended, 0);
  EXPECT_EQ(view_.TrafficChange().Appended, 1);
}

TEST_F(StatisticsView, OnlyCellsWhoseTextChangedAreReported) {
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.9", 80));
  refresh();
  refresh();
  EXPECT_TRUE(view_.TrafficChange().ChangedCells.empty()) << "nothing changed";
  EXPECT_EQ(view_.TrafficChange().Appended, 0);

  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.9", 80));
  refresh();
  EXPECT_EQ(view_.TrafficChange().ChangedCells,
            (Cells{{0, kTrafficSendBytesColumn}, {0, kTrafficSendPackagesColumn}}));
  EXPECT_EQ(view_.ServiceChange().ChangedCells, (Cells{{0, kServiceSendBytesColumn},
                                                       {0, kServiceSendPackagesColumn},
                                                       {1, kServiceSendBytesColumn},
                                                       {1, kServiceSendPackagesColumn}}));
}

TEST_F(StatisticsView, NewKeySortingFirstRewritesTheRowsBelowAndAppendsOne) {
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.9", 80));
  refresh();
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.3", 443)); // sorts before 10.0.0.9
  refresh();
  ASSERT_EQ(view_.TrafficRows().size(), 2u);
  EXPECT_EQ(view_.TrafficRows()[0][kDestIpColumn], "10.0.0.3");
  EXPECT_EQ(view_.TrafficRows()[1][kDestIpColumn], "10.0.0.9");
  // Row 0 now shows the new conversation: its differing cells are written;
  // the equal ones (source address, protocol, counters) are not.
  EXPECT_EQ(view_.TrafficChange().ChangedCells,
            (Cells{{0, kDestIpColumn}, {0, kServicePortColumn}, {0, kServiceNameColumn}}));
  EXPECT_EQ(view_.TrafficChange().FirstAppended, 1);
  EXPECT_EQ(view_.TrafficChange().Appended, 1);
}

TEST_F(StatisticsView, ListsWithMoreRowsThanTheTableAreRebuilt) {
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.2", 80));
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.3", 53));
  refresh();
  table_.Clear();
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.4", 22));
  refresh();
  EXPECT_TRUE(view_.TrafficChange().Rebuilt);
  EXPECT_TRUE(view_.ServiceChange().Rebuilt);
  ASSERT_EQ(view_.TrafficRows().size(), 1u);
  EXPECT_EQ(view_.TrafficRows()[0][kDestIpColumn], "10.0.0.4");
  ASSERT_EQ(view_.ServiceRows().size(), 2u);
  EXPECT_EQ(view_.ServiceRows()[1][kServiceColumn], "ssh");
}

TEST_F(StatisticsView, StartClearsTheConversationRowsButKeepsTheServices) {
  table_.AddPacket(Conversation("10.0.0.1", "10.0.0.2", 80));
  refresh();
  view_.ClearTraffic();
  EXPECT_TRUE(view_.TrafficRows().empty());
  EXPECT_EQ(view_.ServiceRows().size(), 2u);
}

} // namespace
