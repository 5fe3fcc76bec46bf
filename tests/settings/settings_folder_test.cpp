#include "settings/settings_folder.h"

#include "tests/support/saved_environment.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Sets the three variables for one case and puts the old values back after.
class SettingsEnvironment : public ::testing::Test {
protected:
  static void put(const char *name, const std::optional<std::string> &value) {
    SavedEnvironment::Put(name, value);
  }

private:
  SavedEnvironment saved_{{"APPDATA", "XDG_CONFIG_HOME", "HOME"}};
};

struct FolderCase {
  const char *label;
  std::optional<std::string> appData, xdg, home;
  std::string expected;
};

TEST_F(SettingsEnvironment, PicksTheFirstVariableThatIsSetAndNotEmpty) {
  const FolderCase cases[] = {
      {"APPDATA wins", "/a/data", "/x/config", "/home/u", "/a/data/Vantor/"},
      {"APPDATA with a slash", "/a/data/", std::nullopt, "/home/u", "/a/data/Vantor/"},
      {"empty APPDATA", "", "/x/config", "/home/u", "/x/config/Vantor/"},
      {"unset APPDATA", std::nullopt, "/x/config", "/home/u", "/x/config/Vantor/"},
      {"empty XDG", std::nullopt, "", "/home/u", "/home/u/.config/Vantor/"},
      {"neither", "", std::nullopt, "/home/u/", "/home/u/.config/Vantor/"},
  };
  for (const FolderCase &c : cases) {
    put("APPDATA", c.appData);
    put("XDG_CONFIG_HOME", c.xdg);
    put("HOME", c.home);
    EXPECT_EQ(SettingsFolder(), c.expected) << c.label;
  }
}

class EnsureFolderTest : public ::testing::Test {
protected:
  TempFolder temp_{"settings"};
  std::string root_ = temp_.path();
};

TEST_F(EnsureFolderTest, CreatesMissingParentsAndKeepsTheLastPrivate) {
  std::string folder = root_ + "/one/two/Vantor/";
  ASSERT_TRUE(EnsureFolder(folder));
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 077, 0u) << "others must not read the settings";
  // A second call finds everything there.
  EXPECT_TRUE(EnsureFolder(folder));
  EXPECT_TRUE(EnsureFolder(root_ + "/one/two/Vantor"));
}

TEST_F(EnsureFolderTest, FailsWhereAFileStandsInTheWay) {
  std::string file = root_ + "/plain";
  std::ofstream(file) << "x";
  ASSERT_TRUE(fs::is_regular_file(file));
  EXPECT_FALSE(EnsureFolder(file + "/"));
  EXPECT_FALSE(EnsureFolder(file + "/below/Vantor/"));
  EXPECT_FALSE(EnsureFolder(""));
}

} // namespace
