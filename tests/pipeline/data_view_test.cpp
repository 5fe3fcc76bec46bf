#include "pipeline/data_view_document.h"
#include "pipeline/data_view_items.h"
#include "pipeline/rtf_writer.h"

#include "tests/support/file_helpers.h"
#include "tests/support/rtf_reader.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRed = 255;
constexpr uint32_t kStart = 0x123456;

TTextAttributes attrs(bool bold, bool italic, bool underline, uint32_t colour) {
  return {bold, italic, underline, colour};
}

std::string describe(const TTextAttributes &a) {
  return std::string(a.Bold ? "B" : "-") + (a.Italic ? "I" : "-") + (a.Underline ? "U" : "-") +
         " colour " + std::to_string(a.Colour);
}

std::vector<std::string> itemLines(std::string_view item) {
  std::vector<std::string> lines;
  ForEachItemLine(item, [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

// Lines with any attributes, also those the flush cannot produce (a style
// switched off again), for the writer.
class TLineList : public TStyledLineSource {
public:
  void add(std::string text, TTextAttributes attributes) {
    lines_.emplace_back(std::move(text), attributes);
  }
  size_t LineCount() const override { return lines_.size(); }
  TStyledLine Line(size_t index) const override {
    return {lines_[index].first, lines_[index].second};
  }

private:
  std::vector<std::pair<std::string, TTextAttributes>> lines_;
};

std::string rtfOf(const TStyledLineSource &lines) {
  std::string rtf;
  WriteRtf(lines, [&](std::string_view piece) { rtf.append(piece); });
  return rtf;
}

TEST(ApplyItem, TagsAndText) {
  struct Case {
    const char *item;
    bool text;
    TTextAttributes after; // starting from kStart, no style
  } cases[] = {
      {"<B>", false, attrs(true, false, false, kStart)},
      {"<b>", false, attrs(true, false, false, kStart)},
      {"<I>", false, attrs(false, true, false, kStart)},
      {"<i>", false, attrs(false, true, false, kStart)},
      {"<U>", false, attrs(false, false, true, kStart)},
      {"<u>", false, attrs(false, false, true, kStart)},
      {"<C>255", false, attrs(false, false, false, kRed)},
      {"<c>255", false, attrs(false, false, false, kRed)},
      {"<C>0", false, attrs(false, false, false, 0)},
      {"<C>$FF00", false, attrs(false, false, false, 0xFF00)},
      {"<C>16777215", false, attrs(false, false, false, 0xFFFFFF)},
      // Colour tags that are ignored: still tags, nothing changes.
      {"<C>16777216", false, attrs(false, false, false, kStart)},
      {"<C>-1", false, attrs(false, false, false, kStart)},
      {"<C>$FFFFFFFF", false, attrs(false, false, false, kStart)},
      {"<C>red", false, attrs(false, false, false, kStart)},
      {"<C>12px", false, attrs(false, false, false, kStart)},
      {"<C>", false, attrs(false, false, false, kStart)},
      // Text: a tag is the tag alone, spaces count.
      {"<B> ", true, attrs(false, false, false, kStart)},
      {" <B>", true, attrs(false, false, false, kStart)},
      {"<B>bold", true, attrs(false, false, false, kStart)},
      {"<C >255", true, attrs(false, false, false, kStart)},
      {"<X>", true, attrs(false, false, false, kStart)},
      {"<>", true, attrs(false, false, false, kStart)},
      {"", true, attrs(false, false, false, kStart)},
      {"\xc3\xa9", true, attrs(false, false, false, kStart)},
  };
  for (const Case &c : cases) {
    TTextAttributes attributes = attrs(false, false, false, kStart);
    EXPECT_EQ(ApplyItem(c.item, attributes), c.text) << '"' << c.item << '"';
    EXPECT_EQ(attributes, c.after) << '"' << c.item << "\": " << describe(attributes);
  }
}

TEST(ApplyItem, StylesAreOnlyAdded) {
  TTextAttributes attributes = attrs(true, false, true, kRed);
  EXPECT_FALSE(ApplyItem("<i>", attributes));
  EXPECT_FALSE(ApplyItem("<B>", attributes));
  EXPECT_EQ(attributes, attrs(true, true, true, kRed));
}

TEST(ForEachItemLine, EachLineBreakEndsALine) {
  struct Case {
    const char *item;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb", {"a", "b"}},     {"a\r\n", {"a", ""}},   {"", {""}}, {"a\rb\nc", {"a", "b", "c"}},
      {"a\n\nb", {"a", "", "b"}}, {"\n\r", {"", "", ""}}, // LF CR is two breaks, not one
      {"\r\r\n", {"", "", ""}},                           // a lone CR, then CR LF
      {"x\ty ", {"x\ty "}},                               // other characters stay
  };
  for (const Case &c : cases)
    EXPECT_EQ(itemLines(c.item), c.lines) << '"' << c.item << '"';
}

struct ExpectedLine {
  std::string text;
  TTextAttributes attributes;
};

void expectLines(const TStyledLineSource &source, const std::vector<ExpectedLine> &expected) {
  ASSERT_EQ(source.LineCount(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TStyledLine line = source.Line(i);
    EXPECT_EQ(line.Text, expected[i].text) << "line " << i;
    EXPECT_EQ(line.Attributes, expected[i].attributes)
        << "line " << i << ": " << describe(line.Attributes);
  }
}

TEST(DataViewDocument, TagsApplyToEveryLaterLine) {
  TDataViewDocument doc;
  for (const char *item : {"plain", "<C>255", "<B>", "bold red\r\nsecond", "<c>not a number",
                           "still red", "<i>", "<C>0", "", "<u>", "<B>", "all\n"})
    doc.AppendItem(item);
  const TTextAttributes red = attrs(true, false, false, kRed);
  expectLines(doc, {{"plain", {}},
                    {"bold red", red},
                    {"second", red},
                    {"still red", red},
                    {"", attrs(true, true, false, 0)},
                    {"all", attrs(true, true, true, 0)},
                    {"", attrs(true, true, true, 0)}});
  EXPECT_EQ(doc.Attributes(), attrs(true, true, true, 0));
}

TEST(DataViewDocument, ClearKeepsTheAttributes) {
  TDataViewDocument doc;
  for (const char *item : {"<B>", "<C>255", "one", "two"})
    doc.AppendItem(item);
  doc.Clear();
  EXPECT_EQ(doc.LineCount(), 0u);
  EXPECT_EQ(doc.Line(0).Text, "");
  EXPECT_EQ(doc.Attributes(), attrs(true, false, false, kRed));
  doc.AppendItem("<i>");
  doc.AppendItem("three");
  expectLines(doc, {{"three", attrs(true, true, false, kRed)}});
}

// The document keeps lines as offsets and attribute runs; compare it with
// the plainest model on many mixed items.
TEST(DataViewDocument, AgreesWithAListOfLines) {
  const char *items[] = {"<B>", "<I>",  "<U>",    "<C>1",    "<C>2", "<c>x",
                         "",    "text", "a\r\nb", "c\rd\ne", "\n",   "long line of text"};
  std::mt19937 random(7);
  std::uniform_int_distribution<size_t> pick(0, std::size(items) - 1);
  TDataViewDocument doc;
  std::vector<ExpectedLine> model;
  TTextAttributes current;
  for (int round = 0; round < 3000; ++round) {
    if (round == 1500) {
      doc.Clear();
      model.clear();
    }
    const char *item = items[pick(random)];
    doc.AppendItem(item);
    if (ApplyItem(item, current))
      ForEachItemLine(item, [&](std::string_view line) {
        model.push_back({std::string(line), current});
      });
  }
  expectLines(doc, model);
}

TEST(WriteRtf, FormatsSwitchOnlyWhereTheyChange) {
  TDataViewDocument doc;
  for (const char *item : {"<C>255", "red", "<B>", "bold red\r\nagain", "<C>0", "black"})
    doc.AppendItem(item);
  EXPECT_EQ(rtfOf(doc), "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
                        "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\n"
                        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue0;}\n"
                        "\\pard\\plain\\f0\\fs18\n"
                        "\\cf1 red\\par\n"
                        "\\b bold red\\par\n"
                        "again\\par\n"
                        "\\cf2 black\\par\n"
                        "}\n");
}

TEST(WriteRtf, EmptyViewIsAnEmptyDocument) {
  const TDataViewDocument doc;
  const TRtfDocument read = ReadRtf(rtfOf(doc));
  ASSERT_TRUE(read.Ok) << read.Error;
  EXPECT_TRUE(read.Lines.empty());
}

TEST(WriteRtf, AttributesReadBack) {
  const uint32_t green = 0x00FF00, blue = 0xFF0000, grey = 0x808080;
  TLineList lines;
  const std::vector<ExpectedLine> expected = {
      {"plain", attrs(false, false, false, 0)},
      {"bold", attrs(true, false, false, 0)},
      {"bold green", attrs(true, false, false, green)},
      {"italic only", attrs(false, true, false, green)},
      {"", attrs(false, true, true, blue)},
      {"everything", attrs(true, true, true, grey)},
      {"back to plain", attrs(false, false, false, green)},
      {"plain again", attrs(false, false, false, green)},
  };
  for (const ExpectedLine &line : expected)
    lines.add(line.text, line.attributes);
  const std::string rtf = rtfOf(lines);
  const TRtfDocument read = ReadRtf(rtf);
  ASSERT_TRUE(read.Ok) << read.Error << "\n" << rtf;
  ASSERT_EQ(read.Lines.size(), expected.size()) << rtf;
  // Colour table entries in order of first use after the automatic entry.
  EXPECT_EQ(read.Colours, (std::vector<uint32_t>{0, 0, green, blue, grey}));
  for (size_t i = 0; i < expected.size(); ++i) {
    const TRtfLine &line = read.Lines[i];
    SCOPED_TRACE("line " + std::to_string(i));
    EXPECT_EQ(line.Text, expected[i].text);
    EXPECT_EQ(attrs(line.Bold, line.Italic, line.Underline, line.Colour), expected[i].attributes);
    EXPECT_NE(line.ColourIndex, 0); // black is black, not the reader's automatic colour
    EXPECT_EQ(line.Font, "Courier New");
    EXPECT_EQ(line.HalfPoints, 18);
  }
}

TEST(WriteRtf, TextRoundTrips) {
  // C0 controls, DEL and a C1 control (U+0085, NEL) are dropped; the literal
  // is split where a hex escape would swallow the next letter.
  constexpr char kControls[] = "nul\0bel\x07"
                               "del\x7f"
                               "nel\xc2\x85"
                               "esc\x1b"
                               "cr\r.";
  struct Case {
    std::string text;
    std::string readBack;
    const char *inRtf; // how it must appear in the RTF
  } cases[] = {
      {"back\\slash {braces}", "back\\slash {braces}", "back\\\\slash \\{braces\\}"},
      {"caf\xc3\xa9", "caf\xc3\xa9", "caf\\u233?"},
      {"\xe2\x82\xac 5", "\xe2\x82\xac 5", "\\u8364? 5"},
      {"\xef\xbf\xbf", "\xef\xbf\xbf", "\\u-1?"},
      {"smile \xf0\x9f\x98\x80!", "smile \xf0\x9f\x98\x80!", "\\u-10179?\\u-8704?!"},
      {"a\tb", "a\tb", "a\\tab b"},
      {"bad \xff byte", "bad \xff byte", "bad \\'ff byte"},
      {"cut \xe2\x82", "cut \xe2\x82", "cut \\'e2\\'82"},
      {"\xed\xa0\x80", "\xed\xa0\x80", "\\'ed\\'a0\\'80"}, // an encoded surrogate
      {"\xc0\xaf", "\xc0\xaf", "\\'c0\\'af"},              // overlong "/"
      {std::string(kControls, sizeof kControls - 1), "nulbeldelnelesccr.", "nulbeldelnelesccr."},
      {"\\u233?", "\\u233?", "\\\\u233?"},
  };
  TLineList lines;
  for (const Case &c : cases)
    lines.add(c.text, {});
  const std::string rtf = rtfOf(lines);
  for (unsigned char byte : rtf)
    ASSERT_TRUE(byte == '\n' || (byte >= 0x20 && byte < 0x7F)) << "byte " << int(byte);
  const TRtfDocument read = ReadRtf(rtf);
  ASSERT_TRUE(read.Ok) << read.Error;
  ASSERT_EQ(read.Lines.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(read.Lines[i].Text, cases[i].readBack) << "case " << i;
    EXPECT_NE(rtf.find(cases[i].inRtf), std::string::npos) << cases[i].inRtf;
  }
}

// The reader itself must notice what it is there to catch.
TEST(RtfReader, RejectsBrokenDocuments) {
  for (const char *rtf : {"", "plain text", "{\\rtf1 open", "{\\rtf1 x}}", "{\\rtf1 \\'4}",
                          "{\\rtf1{\\colortbl ;}\\cf3 x\\par}", "{\\rtf1 x\\"})
    EXPECT_FALSE(ReadRtf(rtf).Ok) << rtf;
  const TRtfDocument read = ReadRtf("{\\rtf1{\\*\\generator x;}\\b\\i0 a\\par{\\ul b}c\\par}");
  ASSERT_TRUE(read.Ok) << read.Error;
  ASSERT_EQ(read.Lines.size(), 2u);
  EXPECT_EQ(read.Lines[0].Text, "a");
  EXPECT_EQ(read.Lines[1].Text, "bc"); // \ul ended with its group, before the \par
  EXPECT_TRUE(read.Lines[1].Bold);
  EXPECT_FALSE(read.Lines[1].Underline);
}

class SaveRtfTest : public ::testing::Test {
protected:
  TempFolder temp_{"rtf"};
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/view.rtf";
};

TEST_F(SaveRtfTest, WritesALargeViewInPieces) {
  TDataViewDocument doc;
  doc.AppendItem("<C>255");
  for (int i = 0; i < 100000; ++i) {
    if (i == 50000)
      doc.AppendItem("<B>");
    doc.AppendItem("line " + std::to_string(i) + " {caf\xc3\xa9}");
  }
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(SaveRtf(path_, doc, error)) << error;
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"view.rtf"});

  const std::string rtf = ReadWholeFile(path_);
  EXPECT_GT(rtf.size(), 4u * 256 * 1024); // several pieces were joined
  EXPECT_EQ(rtf, rtfOf(doc));
  const TRtfDocument read = ReadRtf(rtf);
  ASSERT_TRUE(read.Ok) << read.Error;
  ASSERT_EQ(read.Lines.size(), 100000u);
  for (size_t i : {size_t(0), size_t(49999), size_t(50000), size_t(99999)}) {
    EXPECT_EQ(read.Lines[i].Text, "line " + std::to_string(i) + " {caf\xc3\xa9}");
    EXPECT_EQ(read.Lines[i].Bold, i >= 50000);
    EXPECT_EQ(read.Lines[i].Colour, kRed);
  }
  // Generous: sanitizer builds run several times slower than release.
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(SaveRtfTest, ReplacesAnExistingFile) {
  std::ofstream(path_) << "an older and much longer file than the new one will be";
  TDataViewDocument doc;
  doc.AppendItem("new");
  std::string error;
  ASSERT_TRUE(SaveRtf(path_, doc, error)) << error;
  EXPECT_EQ(ReadWholeFile(path_), rtfOf(doc));
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"view.rtf"});
}

TEST_F(SaveRtfTest, UnwritablePlaceFailsWithTheReasonAndLeavesNoFile) {
  std::ofstream(folder_ + "/file") << "x";
  struct Case {
    std::string path;
    const char *error;
  } cases[] = {{folder_ + "/absent/view.rtf", "No such file or directory"},
               {folder_ + "/file/view.rtf", "Not a directory"}};
  TDataViewDocument doc;
  doc.AppendItem("text");
  for (const Case &c : cases) {
    std::string error;
    EXPECT_FALSE(SaveRtf(c.path, doc, error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"file"});
}

TEST_F(SaveRtfTest, ReadOnlyFolderFails) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_EQ(chmod(folder_.c_str(), 0500), 0);
  TDataViewDocument doc;
  doc.AppendItem("text");
  std::string error;
  EXPECT_FALSE(SaveRtf(path_, doc, error));
  EXPECT_EQ(error, "Permission denied");
  EXPECT_TRUE(FolderNames(folder_).empty());
}

// A disk that fills part way through (here: the file size limit, which binds
// root as well) fails the save, removes the partial file and keeps the old one.
TEST_F(SaveRtfTest, FailureMidWayKeepsTheOldFile) {
  std::ofstream(path_) << "old";
  TDataViewDocument doc;
  for (int i = 0; i < 50000; ++i)
    doc.AppendItem("a line long enough to need several pieces");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 300 * 1024; // the first piece fits, a later one does not
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool saved = SaveRtf(path_, doc, error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_FALSE(saved);
  EXPECT_EQ(error, "File too large");
  EXPECT_EQ(ReadWholeFile(path_), "old");
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"view.rtf"});
}

} // namespace
