#include "settings/form_placement.h"

#include "tests/support/file_helpers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// A 1024 x 768 screen with a 30-pixel panel along the bottom.
constexpr TRect kWorkArea{0, 0, 1024, 738};

struct MagnetCase {
  const char *name;
  TPoint proposed;
  int width, height;
  TPoint expected;
};

TEST(MagnetPosition, SnapsToTheWorkAreaEdgesInTheirOrder) {
  const MagnetCase cases[] = {
      // 768 - 30 - 300: stops on the panel.
      {"top would be 450", {300, 450}, 400, 300, {300, 438}},
      {"x 20 snaps left", {20, 200}, 400, 300, {0, 200}},
      {"both at once", {20, 450}, 400, 300, {0, 438}},
      {"left of the screen", {-150, -40}, 400, 300, {0, 0}},
      {"near the top", {300, 31}, 400, 300, {300, 0}},
      {"just outside the distance", {32, 32}, 400, 300, {32, 32}},
      {"near the right", {600, 200}, 400, 300, {624, 200}},
      {"one pixel short of the right zone", {592, 200}, 400, 300, {592, 200}},
      {"middle", {300, 200}, 400, 300, {300, 200}},
      // Larger than the work area: the right and bottom tests run last.
      {"larger than the work area", {100, 100}, 1100, 800, {-76, -62}},
  };
  for (const MagnetCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MagnetPosition(c.proposed, c.width, c.height, kWorkArea, 32), c.expected);
  }
}

TEST(MagnetPosition, WorkAreaOffsetByAPanelAtTheTopLeft) {
  const TRect area{60, 24, 1024, 768};
  EXPECT_EQ(MagnetPosition({70, 40}, 200, 100, area, 32), (TPoint{60, 24}));
  // Distance 0 still keeps the window from crossing the left and top edges.
  EXPECT_EQ(MagnetPosition({59, 30}, 200, 100, area, 0), (TPoint{60, 30}));
  EXPECT_EQ(MagnetPosition({61, 30}, 200, 100, area, 0), (TPoint{61, 30}));
}

TEST(ClampToVirtualScreen, PullsBackOnlyRightAndBottom) {
  EXPECT_EQ(ClampToVirtualScreen({1000, 100, 2000, 500}, 1280, 1024), (TRect{280, 100, 1280, 500}));
  EXPECT_EQ(ClampToVirtualScreen({100, 900, 500, 1200}, 1280, 1024), (TRect{100, 724, 500, 1024}));
  // Beyond the left or top edge: applied as stored.
  EXPECT_EQ(ClampToVirtualScreen({-300, -200, 100, 100}, 1280, 1024),
            (TRect{-300, -200, 100, 100}));
  EXPECT_EQ(ClampToVirtualScreen({0, 0, 1280, 1024}, 1280, 1024), (TRect{0, 0, 1280, 1024}));
}

TEST(ClampToVirtualScreen, ExtremeStoredEdgesDoNotOverflow) {
  const TRect clamped = ClampToVirtualScreen({INT32_MIN, 0, INT32_MAX, 10}, 1280, 1024);
  EXPECT_EQ(clamped.Left, INT32_MIN);
  EXPECT_EQ(clamped.Right, 1280);
}

class RestoredPlacementTest : public ::testing::Test {
protected:
  // The window as designed: 100,50 to 500,350, not maximized.
  const TPlacement current_{{100, 50, 500, 350}, false};
  TPlacement restore(const TSavedPlacement &saved, bool position = true, bool size = true) {
    return RestoredPlacement(saved, current_, position, size, 1280, 1024);
  }
};

TEST_F(RestoredPlacementTest, NothingSavedKeepsTheCurrentBounds) {
  EXPECT_EQ(restore({}), current_);
}

TEST_F(RestoredPlacementTest, SavedEdgesAreApplied) {
  EXPECT_EQ(restore({10, 20, 610, 420, 0}), (TPlacement{{10, 20, 610, 420}, false}));
  // Each missing key falls back on its own.
  EXPECT_EQ(restore({10, {}, {}, 420, {}}), (TPlacement{{10, 50, 500, 420}, false}));
}

TEST_F(RestoredPlacementTest, SwitchedOffPartsKeepTheCurrentValues) {
  // Without SaveSize the window moves to the saved corner and keeps its size.
  EXPECT_EQ(restore({10, 20, 610, 420, 0}, true, false), (TPlacement{{10, 20, 410, 320}, false}));
  EXPECT_EQ(restore({10, 20, 610, 420, 0}, false, true), (TPlacement{{100, 50, 610, 420}, false}));
}

TEST_F(RestoredPlacementTest, OutsideTheVirtualScreenIsPulledBack) {
  EXPECT_EQ(restore({1000, 20, 2000, 420, 0}), (TPlacement{{280, 20, 1280, 420}, false}));
  // The kept size counts too.
  EXPECT_EQ(restore({1100, 900, {}, {}, {}}, true, false),
            (TPlacement{{880, 724, 1280, 1024}, false}));
}

TEST_F(RestoredPlacementTest, MaximizedTakesTheWholeVirtualScreen) {
  EXPECT_EQ(restore({10, 20, 610, 420, 1}), (TPlacement{{0, 0, 1280, 1024}, true}));
  // Any non-zero value is true.
  EXPECT_EQ(restore({10, 20, 610, 420, -7}).Maximized, true);
  // Missing: the current state stands.
  const TPlacement maximizedNow{{0, 0, 1280, 1024}, true};
  EXPECT_TRUE(RestoredPlacement({}, maximizedNow, true, true, 1280, 1024).Maximized);
  EXPECT_EQ(RestoredPlacement({{}, {}, {}, {}, 0}, maximizedNow, true, true, 1280, 1024),
            (TPlacement{{0, 0, 1280, 1024}, false}));
}

TEST(SectionName, AddsUserAndComputerWhenAsked) {
  EXPECT_EQ(SectionName("frmMain", false, false, "op7", "PC1"), "frmMain");
  EXPECT_EQ(SectionName("frmMain", true, false, "op7", "PC1"), "frmMain-op7");
  EXPECT_EQ(SectionName("frmMain", false, true, "op7", "PC1"), "frmMain-PC1");
  EXPECT_EQ(SectionName("frmMain", true, true, "op7", "PC1"), "frmMain-op7-PC1");
}

TEST(SectionName, AsksTheSystemForTheNames) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(ComputerName(), host);
  EXPECT_FALSE(LogonUserName().empty());
  EXPECT_EQ(SectionName("frmMain", true, true),
            "frmMain-" + LogonUserName() + "-" + std::string(host));
}

TEST(ProfileIni, ReadsSectionsAndKeysWithoutRegardToCase) {
  TProfileIni ini;
  ini.LoadFromText("top=1\r\n[ Other ]\r\nLeft=5\r\n[FRMMAIN]\rleft = 7 \rTop=x12\n"
                   "Right=$20\nBottom=\nMaximized=1\n[frmMain]\nLeft=99\n");
  EXPECT_EQ(ini.ReadInteger("other", "LEFT"), 5);
  EXPECT_EQ(ini.ReadInteger("frmMain", "Left"), 7);   // first section wins
  EXPECT_EQ(ini.ReadInteger("frmMain", "Top"), 0x12); // hexadecimal forms
  EXPECT_EQ(ini.ReadInteger("frmMain", "Right"), 0x20);
  EXPECT_EQ(ini.ReadInteger("frmMain", "Bottom"), std::nullopt);
  EXPECT_EQ(ini.ReadString("frmMain", "Bottom"), "");
  EXPECT_EQ(ini.ReadInteger("frmMain", "Width"), std::nullopt);
  EXPECT_EQ(ini.ReadInteger("nowhere", "Left"), std::nullopt);
  // Lines before the first header belong to no section.
  EXPECT_EQ(ini.ReadInteger("", "top"), std::nullopt);
}

TEST(ProfileIni, NonIntegerValuesCountAsMissing) {
  TProfileIni ini;
  ini.LoadFromText("[w]\nLeft=12px\nTop=ten\nRight=99999999999\nBottom= -40 \n");
  const TSavedPlacement saved = ReadPlacement(ini, "w");
  EXPECT_EQ(saved.Left, std::nullopt);
  EXPECT_EQ(saved.Top, std::nullopt);
  EXPECT_EQ(saved.Right, std::nullopt);
  EXPECT_EQ(saved.Bottom, -40);
  EXPECT_EQ(saved.Maximized, std::nullopt);
}

TEST(ProfileIni, RewritingKeepsWhatItDoesNotOwn) {
  TProfileIni ini;
  ini.LoadFromText("; placement of the windows\n[frmFilter]\nLeft=3\nColour=blue\n\n"
                   "[frmMain]\nTop=8\nExtra=keep me\nno equals sign\n\n[Last]\nA=1\n");
  WritePlacement(ini, "FRMMAIN", {{1, 2, 3, 4}, true}, true, true);
  EXPECT_EQ(ini.SaveText(), "; placement of the windows\n[frmFilter]\nLeft=3\nColour=blue\n\n"
                            "[frmMain]\nTop=2\nExtra=keep me\nno equals sign\nLeft=1\n"
                            "Right=3\nBottom=4\nMaximized=1\n\n[Last]\nA=1\n");
}

TEST(ProfileIni, WritesOnlyTheSwitchedOnKeys) {
  TProfileIni position, size;
  WritePlacement(position, "w", {{1, 2, 3, 4}, false}, true, false);
  WritePlacement(size, "w", {{1, 2, 3, 4}, false}, false, true);
  EXPECT_EQ(position.SaveText(), "[w]\nLeft=1\nTop=2\n");
  EXPECT_EQ(size.SaveText(), "[w]\nRight=3\nBottom=4\nMaximized=0\n");
}

class PlacementFile : public ::testing::Test {
protected:
  TempFolder temp_{"placement"};
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/VantorForm.INI";
};

TEST_F(PlacementFile, MissingFileReadsAsNothingSaved) {
  const TSavedPlacement saved = LoadPlacement(path_, "frmMain");
  EXPECT_FALSE(saved.Left || saved.Top || saved.Right || saved.Bottom || saved.Maximized);
}

TEST_F(PlacementFile, RoundTripKeepsOtherSections) {
  std::ofstream(path_) << "[frmOther]\r\nLeft=77\r\nNote=hello\r\n[frmMain]\r\nLeft=oops\r\n";
  ASSERT_TRUE(LoadPlacement(path_, "frmMain").Left == std::nullopt);

  ASSERT_TRUE(StorePlacement(path_, "frmMain", {{-20, 30, 620, 510}, false}, true, true));
  const TSavedPlacement saved = LoadPlacement(path_, "frmMain");
  EXPECT_EQ(saved.Left, -20);
  EXPECT_EQ(saved.Top, 30);
  EXPECT_EQ(saved.Right, 620);
  EXPECT_EQ(saved.Bottom, 510);
  EXPECT_EQ(saved.Maximized, 0);

  TProfileIni ini;
  ASSERT_TRUE(ini.LoadFromFile(path_));
  EXPECT_EQ(ini.ReadInteger("frmOther", "Left"), 77);
  EXPECT_EQ(ini.ReadString("frmOther", "Note"), "hello");
  EXPECT_EQ(FolderNames(folder_), std::vector<std::string>{"VantorForm.INI"});
}

TEST_F(PlacementFile, UnwritableFileIsReportedAndLeftAlone) {
  EXPECT_FALSE(StorePlacement(folder_ + "/missing/VantorForm.INI", "frmMain",
                              {{0, 0, 10, 10}, false}, true, true));
  EXPECT_TRUE(FolderNames(folder_).empty());
}

} // namespace
