// The statistics lists as item models: what views are told after each
// refresh, and what they read from the models.
#include "ui/statistics_model.h"

#include "stats/traffic_class.h"
#include "tests/stats/stats_packets.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Texts = std::vector<std::vector<std::string>>;
// Per row, the first and last column announced (or differing).
using Spans = std::map<int, std::pair<int, int>>;

Texts modelTexts(const QAbstractItemModel &model) {
  Texts texts(size_t(model.rowCount()));
  for (int row = 0; row < model.rowCount(); ++row)
    for (int column = 0; column < model.columnCount(); ++column)
      texts[size_t(row)].push_back(model.index(row, column).data().toString().toStdString());
  return texts;
}

template <typename Rows> Texts viewTexts(const Rows &rows) {
  Texts texts;
  for (const auto &row : rows)
    texts.emplace_back(row.begin(), row.end());
  return texts;
}

// The cells the dataChanged signals covered; a row announced twice in one
// refresh is a fault of its own.
Spans announcedSpans(const QSignalSpy &spy) {
  Spans spans;
  for (const QList<QVariant> &signal : spy) {
    const auto topLeft = signal[0].value<QModelIndex>();
    const auto bottomRight = signal[1].value<QModelIndex>();
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
      const bool fresh =
          spans.emplace(row, std::pair(topLeft.column(), bottomRight.column())).second;
      EXPECT_TRUE(fresh) << "row " << row << " announced twice";
    }
  }
  return spans;
}

// The cells of the rows both lists have whose texts differ.
Spans differingSpans(const Texts &before, const Texts &after) {
  Spans spans;
  for (size_t row = 0; row < std::min(before.size(), after.size()); ++row)
    for (size_t column = 0; column < before[row].size(); ++column)
      if (before[row][column] != after[row][column]) {
        auto [it, fresh] = spans.emplace(int(row), std::pair(int(column), int(column)));
        if (!fresh)
          it->second.second = int(column);
      }
  return spans;
}

// The signals one model sends during one refresh.
struct Announcements {
  explicit Announcements(QAbstractItemModel &model)
      : cells(&model, &QAbstractItemModel::dataChanged),
        inserts(&model, &QAbstractItemModel::rowsInserted),
        resets(&model, &QAbstractItemModel::modelReset), before(modelTexts(model)) {}

  QSignalSpy cells;
  QSignalSpy inserts;
  QSignalSpy resets;
  Texts before;
};

class StatisticsModels : public ::testing::Test {
protected:
  void refresh() {
    view_.Refresh(table_, texts_);
    traffic_.ApplyChange();
    services_.ApplyChange();
  }
  void send(std::string_view remote, int32_t port, int32_t frameLen = 60) {
    table_.AddPacket(PortPacket(true, "10.0.0.1", 40000, remote, port, frameLen));
  }
  void receive(std::string_view remote, int32_t port, int32_t frameLen = 60) {
    table_.AddPacket(PortPacket(false, remote, port, "10.0.0.1", 40000, frameLen));
  }

  TTrafficClass table_;
  TSummaryTexts texts_;
  TStatisticsView view_;
  TStatisticsListModel traffic_{EStatisticsList::Traffic, view_};
  TStatisticsListModel services_{EStatisticsList::Service, view_};
  // Any inconsistency between what the models announce and what they then
  // report aborts the test program.
  QAbstractItemModelTester trafficTester_{&traffic_,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal};
  QAbstractItemModelTester serviceTester_{&services_,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// After a refresh the model shows the view's texts, and told its views
// exactly this: a reset, or the rows appended plus the span of changed
// columns of each row whose texts changed (and of no other row).
void expectAnnounced(const Announcements &said, const QAbstractItemModel &model, const Texts &now,
                     bool reset) {
  EXPECT_EQ(modelTexts(model), now);
  if (reset) {
    EXPECT_EQ(said.resets.count(), 1);
    EXPECT_EQ(said.cells.count(), 0);
    EXPECT_EQ(said.inserts.count(), 0);
    return;
  }
  EXPECT_EQ(said.resets.count(), 0);
  EXPECT_EQ(announcedSpans(said.cells), differingSpans(said.before, now));
  if (now.size() == said.before.size()) {
    EXPECT_EQ(said.inserts.count(), 0);
  } else if (said.inserts.count() == 1) {
    EXPECT_EQ(said.inserts[0][1].toInt(), int(said.before.size()));
    EXPECT_EQ(said.inserts[0][2].toInt(), int(now.size()) - 1);
  } else {
    ADD_FAILURE() << said.inserts.count() << " inserts for " << now.size() - said.before.size()
                  << " new rows";
  }
}

TEST_F(StatisticsModels, AnnounceEachRefreshAsAppendsChangedCellsOrAReset) {
  struct Step {
    const char *what;
    std::function<void()> change;
    bool trafficReset;
    bool serviceReset;
  };
  const Step steps[] = {
      {"first conversations",
       [this] {
         send("10.0.0.9", 80);
         send("10.0.0.5", 443);
       },
       false, false},
      {"one more packet sent", [this] { send("10.0.0.9", 80, 1500); }, false, false},
      {"a reply", [this] { receive("10.0.0.5", 443); }, false, false},
      {"a key that sorts first moves every row down", [this] { send("10.0.0.2", 53); }, false,
       false},
      {"nothing new", [] {}, false, false},
      {"a new capture with fewer rows",
       [this] {
         table_.Clear();
         send("10.0.0.7", 22);
       },
       true, true},
      {"growing again", [this] { send("10.0.0.8", 22); }, false, false},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    Announcements trafficSaid(traffic_), serviceSaid(services_);
    step.change();
    refresh();
    expectAnnounced(trafficSaid, traffic_, viewTexts(view_.TrafficRows()), step.trafficReset);
    expectAnnounced(serviceSaid, services_, viewTexts(view_.ServiceRows()), step.serviceReset);
  }

  // A start empties the table and the conversation rows, not the service
  // rows: its first refresh appends the one and rewrites the others.
  table_.Clear();
  view_.ClearTraffic();
  {
    Announcements trafficSaid(traffic_), serviceSaid(services_);
    traffic_.Reset();
    EXPECT_EQ(trafficSaid.resets.count(), 1);
    EXPECT_EQ(traffic_.rowCount(), 0);
    EXPECT_EQ(serviceSaid.resets.count(), 0);
    EXPECT_EQ(services_.rowCount(), 2);
  }
  send("10.0.0.3", 80);
  Announcements trafficSaid(traffic_), serviceSaid(services_);
  refresh();
  expectAnnounced(trafficSaid, traffic_, viewTexts(view_.TrafficRows()), false);
  expectAnnounced(serviceSaid, services_, viewTexts(view_.ServiceRows()), false);
  EXPECT_EQ(traffic_.rowCount(), 1);
  EXPECT_EQ(services_.index(1, kServiceColumn).data().toString(), "http");
}

TEST_F(StatisticsModels, OnePacketAnnouncesOnlyItsCountersInItsRowAndItsServiceRows) {
  send("10.0.0.2", 80); // services: TOTALS, http, https, ssh
  send("10.0.0.3", 443);
  send("10.0.0.4", 22);
  refresh();

  struct Case {
    const char *what;
    bool isSend;
    int32_t port;
    int trafficRow;
    int firstTrafficColumn, lastTrafficColumn;
    int firstServiceColumn, lastServiceColumn;
    std::vector<std::pair<int, int>> serviceRows; // first and last row of each signal
  };
  const Case cases[] = {
      {"https sent: TOTALS and row 2 apart",
       true,
       443,
       1,
       kTrafficSendBytesColumn,
       kTrafficSendPackagesColumn,
       kServiceSendBytesColumn,
       kServiceSendPackagesColumn,
       {{0, 0}, {2, 2}}},
      {"http received: TOTALS and row 1 in one",
       false,
       80,
       0,
       kTrafficReceiveBytesColumn,
       kTrafficReceivePackagesColumn,
       kServiceReceiveBytesColumn,
       kServiceReceivePackagesColumn,
       {{0, 1}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    QSignalSpy trafficCells(&traffic_, &QAbstractItemModel::dataChanged);
    QSignalSpy serviceCells(&services_, &QAbstractItemModel::dataChanged);
    QSignalSpy inserts(&traffic_, &QAbstractItemModel::rowsInserted);
    const std::string remote = "10.0.0." + std::to_string(c.trafficRow + 2);
    if (c.isSend)
      send(remote, c.port);
    else
      receive(remote, c.port);
    refresh();

    ASSERT_EQ(trafficCells.count(), 1);
    EXPECT_EQ(trafficCells[0][0].value<QModelIndex>(),
              traffic_.index(c.trafficRow, c.firstTrafficColumn));
    EXPECT_EQ(trafficCells[0][1].value<QModelIndex>(),
              traffic_.index(c.trafficRow, c.lastTrafficColumn));
    ASSERT_EQ(serviceCells.count(), int(c.serviceRows.size()));
    for (size_t i = 0; i < c.serviceRows.size(); ++i) {
      EXPECT_EQ(serviceCells[int(i)][0].value<QModelIndex>(),
                services_.index(c.serviceRows[i].first, c.firstServiceColumn));
      EXPECT_EQ(serviceCells[int(i)][1].value<QModelIndex>(),
                services_.index(c.serviceRows[i].second, c.lastServiceColumn));
    }
    EXPECT_EQ(inserts.count(), 0);
  }

  QSignalSpy trafficCells(&traffic_, &QAbstractItemModel::dataChanged);
  QSignalSpy serviceCells(&services_, &QAbstractItemModel::dataChanged);
  refresh();
  EXPECT_EQ(trafficCells.count() + serviceCells.count(), 0) << "a refresh with nothing new";
}

TEST_F(StatisticsModels, ShowOnlyAnnouncedRowsUntilTheyCatchUpWithTheView) {
  send("10.0.0.2", 80);
  send("10.0.0.3", 443);
  refresh();
  send("10.0.0.4", 22);
  view_.Refresh(table_, texts_);
  EXPECT_EQ(traffic_.rowCount(), 2) << "rows not yet announced stay hidden";
  EXPECT_EQ(services_.rowCount(), 3);

  // The view lost rows the model still announces: they read as empty.
  table_.Clear();
  send("10.0.0.5", 80);
  view_.Refresh(table_, texts_);
  EXPECT_EQ(traffic_.rowCount(), 2);
  EXPECT_FALSE(traffic_.index(1, kSourceIpColumn).data().isValid());
  EXPECT_FALSE(traffic_.index(1, kTrafficSendBytesColumn).data(kRawValueRole).isValid());
  EXPECT_EQ(traffic_.index(0, kDestIpColumn).data().toString(), "10.0.0.5");
  traffic_.ApplyChange();
  services_.ApplyChange();
  EXPECT_EQ(modelTexts(traffic_), viewTexts(view_.TrafficRows()));
  EXPECT_EQ(modelTexts(services_), viewTexts(view_.ServiceRows()));

  // A clear nobody announced, then a refresh that appends from row 0: the
  // model cannot tell it as an insert after its rows, so it starts over.
  send("10.0.0.6", 80);
  refresh();
  view_.ClearTraffic();
  send("10.0.0.7", 80);
  QSignalSpy resets(&traffic_, &QAbstractItemModel::modelReset);
  refresh();
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(modelTexts(traffic_), viewTexts(view_.TrafficRows()));
}

TEST_F(StatisticsModels, NumberColumnsGiveRawValuesAndAlignRight) {
  // More than 2^32 bytes sent: raw values must not be cut to 32 bits.
  for (int i = 0; i < 3; ++i)
    send("10.0.0.9", 443, INT32_MAX);
  receive("10.0.0.9", 443, 1500);
  refresh();

  struct Cell {
    QAbstractItemModel *model;
    int row;
    int column;
    QVariant raw;
  };
  const qlonglong sent = 3LL * INT32_MAX;
  const Cell cells[] = {
      {&traffic_, 0, kSourceIpColumn, QString("10.0.0.1")},
      {&traffic_, 0, kDestIpColumn, QString("10.0.0.9")},
      {&traffic_, 0, kPackageTypeColumn, QString("TCP")},
      {&traffic_, 0, kServicePortColumn, 443LL},
      {&traffic_, 0, kServiceNameColumn, QString("https")},
      {&traffic_, 0, kTrafficSendBytesColumn, sent},
      {&traffic_, 0, kTrafficReceiveBytesColumn, 1500LL},
      {&traffic_, 0, kTrafficSendPackagesColumn, 3LL},
      {&traffic_, 0, kTrafficReceivePackagesColumn, 1LL},
      {&services_, 0, kServiceColumn, QString("TOTALS")},
      {&services_, 1, kServiceColumn, QString("https")},
      {&services_, 1, kServiceSendBytesColumn, sent},
      {&services_, 1, kServiceReceiveBytesColumn, 1500LL},
      {&services_, 1, kServiceSendPackagesColumn, 3LL},
      {&services_, 1, kServiceReceivePackagesColumn, 1LL},
      {&services_, 1, kHostsColumn, 1LL},
  };
  for (const Cell &cell : cells) {
    SCOPED_TRACE(testing::Message()
                 << cell.model->headerData(cell.column, Qt::Horizontal).toString().toStdString());
    const QModelIndex index = cell.model->index(cell.row, cell.column);
    const QVariant raw = index.data(kRawValueRole);
    EXPECT_EQ(raw.typeId(), cell.raw.typeId());
    EXPECT_EQ(raw, cell.raw);
    EXPECT_EQ(index.data().toString(), cell.raw.toString());
    const bool number = cell.raw.typeId() == QMetaType::LongLong;
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    if (number)
      EXPECT_EQ(qvariant_cast<Qt::Alignment>(alignment), Qt::AlignRight | Qt::AlignVCenter);
    else
      EXPECT_FALSE(alignment.isValid());
  }
}

TEST_F(StatisticsModels, HeadersAreTheCaptions) {
  ASSERT_EQ(traffic_.columnCount(), kTrafficColumnCount);
  for (int column = 0; column < kTrafficColumnCount; ++column)
    EXPECT_EQ(traffic_.headerData(column, Qt::Horizontal).toString(),
              kTrafficCaptions[size_t(column)]);
  ASSERT_EQ(services_.columnCount(), kServiceColumnCount);
  for (int column = 0; column < kServiceColumnCount; ++column)
    EXPECT_EQ(services_.headerData(column, Qt::Horizontal).toString(),
              kServiceCaptions[size_t(column)]);
  EXPECT_EQ(traffic_.headerData(3, Qt::Horizontal).toString(), "Sevice Port");
}

TEST_F(StatisticsModels, ATreeViewShowsTheTextsAndFollowsInsertsAndRebuilds) {
  QTreeView tree;
  tree.setRootIsDecorated(false);
  tree.setUniformRowHeights(true);
  tree.setModel(&traffic_);
  tree.resize(900, 400);
  tree.show();

  send("10.0.0.9", 80);
  send("10.0.0.5", 443);
  refresh();
  QCoreApplication::processEvents();
  const QAbstractItemModel &shown = *tree.model();
  ASSERT_EQ(shown.rowCount(), 2);
  EXPECT_EQ(modelTexts(shown), viewTexts(view_.TrafficRows()));
  EXPECT_EQ(shown.index(0, kDestIpColumn).data().toString(), "10.0.0.5");
  EXPECT_EQ(shown.index(1, kServiceNameColumn).data().toString(), "http");
  EXPECT_EQ(tree.header()->model()->headerData(kServicePortColumn, Qt::Horizontal).toString(),
            "Sevice Port");
  // The tree lays out only rows it was told about.
  EXPECT_FALSE(tree.visualRect(shown.index(1, 0)).isEmpty());

  table_.Clear();
  send("10.0.0.7", 22);
  refresh();
  QCoreApplication::processEvents();
  ASSERT_EQ(shown.rowCount(), 1);
  EXPECT_EQ(shown.index(0, kDestIpColumn).data().toString(), "10.0.0.7");
  EXPECT_FALSE(tree.visualRect(shown.index(0, 0)).isEmpty());
  EXPECT_EQ(tree.indexAt(tree.visualRect(shown.index(0, kDestIpColumn)).center()),
            shown.index(0, kDestIpColumn));
}

} // namespace
