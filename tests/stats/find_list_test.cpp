#include "stats/find_list.h"
#include "stats/traffic_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

int compareInts(const void *listItem, const void *searched) {
  const int a = *static_cast<const int *>(listItem);
  const int b = *static_cast<const int *>(searched);
  return a < b ? -1 : a > b ? 1 : 0;
}

std::vector<int> valuesOf(const TFindList &list) {
  std::vector<int> values;
  for (int32_t i = 0; i < list.Count(); ++i)
    values.push_back(*static_cast<const int *>(list.Items(i)));
  return values;
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

TEST(CompareBytes, OrdersByFirstDifferingUnsignedByte) {
  struct Case {
    std::vector<uint8_t> a, b;
    int32_t n;
    int expected;
  };
  const Case cases[] = {
      {{1, 2, 3}, {1, 2, 3}, 3, 0},
      {{1, 2, 3}, {1, 2, 4}, 3, -1},
      {{1, 9, 0}, {1, 2, 255}, 3, 1},
      {{0x80}, {0x01}, 1, 1}, // unsigned: 0x80 is the larger byte
      {{0x01}, {0xFF}, 1, -1},
      {{1, 2, 3}, {1, 2, 4}, 2, 0}, // bytes past n are not looked at
      {{1}, {2}, 0, 0},
      {{1}, {2}, -5, 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(sign(CompareBytes(c.a.data(), c.b.data(), c.n)), c.expected)
        << int(c.a[0]) << " vs " << int(c.b[0]) << " over " << c.n;
}

TEST(CompareKeys, TrafficKeysSortAddressesBigEndianThenPortAndProtocolLowByteFirst) {
  TTrafficInfo a, b;
  // 9.255.255.255 comes before 10.0.0.1 although its uint32 value is larger.
  a.LocalIP = 0xFFFFFF09;
  b.LocalIP = 0x0100000A;
  EXPECT_LT(CompareTrafficKeys(&a, &b), 0);
  b.LocalIP = a.LocalIP;
  a.RemoteIP = b.RemoteIP = 7;
  a.Port = 256; // bytes 00 01
  b.Port = 1;   // bytes 01 00
  EXPECT_LT(CompareTrafficKeys(&a, &b), 0);
  b.Port = 256;
  a.Protocol = 17;
  b.Protocol = 6;
  EXPECT_GT(CompareTrafficKeys(&a, &b), 0);
  b.Protocol = 17;
  a.BytesSent = 5; // counters are no part of the key
  a.LocalHost = "x";
  EXPECT_EQ(CompareTrafficKeys(&a, &b), 0);

  TServiceInfo s, t;
  s.Port = t.Port = 80;
  s.Protocol = 6;
  t.Protocol = 17;
  s.Hosts = 9;
  EXPECT_LT(CompareServiceKeys(&s, &t), 0);
  t.Protocol = 6;
  EXPECT_EQ(CompareServiceKeys(&s, &t), 0);
}

TEST(TFindList, FindOnAnEmptyListGivesIndexZero) {
  TFindList list;
  EXPECT_FALSE(list.Sorted);
  const int x = 5;
  int32_t index = 42;
  EXPECT_FALSE(list.Find(&x, compareInts, index));
  EXPECT_EQ(index, 0);
}

TEST(TFindList, AddSortedKeepsOrderAndRefusesDuplicates) {
  const int values[] = {50, 10, 30, 30, 70, 10, 20, 60, 40, 0};
  const int32_t expectedIndex[] = {0, 0, 1, 1, 3, 0, 1, 4, 3, 0};
  TFindList list;
  list.Sorted = true;
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(list.AddSorted(&values[i], compareInts), expectedIndex[i]) << "adding " << values[i];
  EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70}));
  // The first of two equal values stays; the second's pointer was not added.
  EXPECT_EQ(list.Items(3), &values[2]);
}

TEST(TFindList, FindGivesThePositionThatKeepsTheOrder) {
  const int stored[] = {10, 20, 30, 40, 50};
  TFindList list;
  list.Sorted = true;
  for (const int &v : stored)
    list.AddSorted(&v, compareInts);
  struct Case {
    int searched;
    bool found;
    int32_t index;
  };
  const Case cases[] = {{5, false, 0},  {10, true, 0}, {15, false, 1}, {30, true, 2},
                        {45, false, 4}, {50, true, 4}, {99, false, 5}};
  for (const Case &c : cases) {
    int32_t index = -1;
    EXPECT_EQ(list.Find(&c.searched, compareInts, index), c.found) << c.searched;
    EXPECT_EQ(index, c.index) << c.searched;
  }
}

TEST(TFindList, UnsortedListAppendsAndSortsOnRequest) {
  const int values[] = {3, 1, 2, 1};
  TFindList list;
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(list.AddSorted(&values[i], compareInts), int32_t(i));
  EXPECT_EQ(valuesOf(list), (std::vector<int>{3, 1, 2, 1}));
  list.Sort(compareInts);
  EXPECT_EQ(valuesOf(list), (std::vector<int>{1, 1, 2, 3}));
  list.SetCapacity(100);
  EXPECT_GE(list.Capacity(), 100);
  EXPECT_EQ(list.Count(), 4);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

} // namespace
