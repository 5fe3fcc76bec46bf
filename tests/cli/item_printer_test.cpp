// Items written to a terminal or a pipe: lines, tags and terminal styles.
#include "cli/item_printer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

// What the printer writes for `items`, read back through a pipe.
std::string printed(const std::vector<std::string> &items, bool styled) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  {
    TItemPrinter printer(fds[1], styled);
    for (const std::string &item : items)
      printer.Print(item);
    EXPECT_TRUE(printer.Finish());
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    out.append(buffer, size_t(n));
  close(fds[0]);
  return out;
}

TEST(ItemPrinter, TextItemsBecomeLinesAndTagsWriteNothingOffATerminal) {
  EXPECT_EQ(printed({"one", "<B>", "two\r\nthree\rfour\nfive", "<c>255", "", "end\r\n"}, false),
            "one\ntwo\nthree\nfour\nfive\n\nend\n\n");
}

TEST(ItemPrinter, TagsBecomeTerminalStylesThatOnlyAdd) {
  const std::string out = printed({"a", "<B>", "<C>255", "b", "<U>", "c", "<C>0", "d"}, true);
  EXPECT_EQ(out, "a\n"
                 "\x1b[0;1m"
                 "\x1b[0;1;38;2;255;0;0m"
                 "b\n"
                 "\x1b[0;1;4;38;2;255;0;0m"
                 "c\n"
                 "\x1b[0;1;4m" // black is the terminal's own colour
                 "d\n"
                 "\x1b[0m");
}

TEST(ItemPrinter, TagsThatChangeNothingWriteNothing) {
  EXPECT_EQ(printed({"<B>", "<b>", "<C>not a number", "x"}, true), "\x1b[0;1mx\n\x1b[0m");
}

TEST(ItemPrinter, AClosedOutputIsReported) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  TItemPrinter printer(fds[1], false);
  printer.Print("lost");
  EXPECT_FALSE(printer.Finish());
  EXPECT_TRUE(printer.Failed());
  close(fds[1]);
  signal(SIGPIPE, SIG_DFL);
}

} // namespace
