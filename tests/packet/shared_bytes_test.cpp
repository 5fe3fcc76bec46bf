#include "packet/packet_info.h"

#include <gtest/gtest.h>

#include <vector>

TEST(SharedBytes, CopiesOfARecordShareOnePayload) {
  const std::vector<uint8_t> bytes{'a', 0, 'b'};
  TPacketInfo first;
  first.Payload = SharedBytes(bytes);
  first.PayloadLen = 3;
  ASSERT_EQ(first.Payload.useCount(), 1);
  {
    TPacketInfo second = first;
    EXPECT_EQ(second.Payload.data(), first.Payload.data()) << "no byte copy";
    EXPECT_EQ(first.Payload.useCount(), 2);
  }
  EXPECT_EQ(first.Payload.useCount(), 1) << "releasing the copy leaves the first intact";
  EXPECT_EQ(first.Payload.view(), std::string_view("a\0b", 3)) << "binary, zero bytes kept";
  EXPECT_EQ(first.Payload.c_str()[3], '\0') << "followed by a terminating zero";
}

TEST(SharedBytes, EmptyBufferIsALoneZeroByte) {
  SharedBytes empty;
  ASSERT_NE(empty.c_str(), nullptr);
  EXPECT_EQ(empty.c_str()[0], '\0');
  EXPECT_TRUE(SharedBytes(std::span<const uint8_t>{}).empty());
}

TEST(SharedBytes, AssignmentAndMoveKeepCountsRight) {
  const std::vector<uint8_t> x{1, 2}, y{3};
  SharedBytes a(x), b(y);
  b = a;
  EXPECT_EQ(a.useCount(), 2);
  SharedBytes &alias = b;
  b = alias; // self-assignment keeps the bytes alive
  EXPECT_EQ(b.size(), 2u);
  SharedBytes c(std::move(b));
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(a.useCount(), 2);
  c = SharedBytes(y);
  EXPECT_EQ(a.useCount(), 1);
  EXPECT_EQ(c.data()[0], 3);
}
