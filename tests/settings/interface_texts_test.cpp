#include "settings/interface_texts.h"

#include "tests/support/saved_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

using TextCall = std::pair<std::string, std::string>;

// Collects what a loader hands to the window, in order.
struct RecordingSetter {
  std::vector<TextCall> calls;
  TTextSetter setter() {
    return [this](std::string_view control, const std::string &text) {
      calls.emplace_back(std::string(control), text);
    };
  }
};

std::vector<std::string> keysOf(std::span<const TTextKey> table) {
  std::vector<std::string> keys;
  for (const TTextKey &row : table)
    keys.emplace_back(row.Key);
  return keys;
}

std::vector<TextCall> defaultsOf(std::span<const TTextKey> table) {
  std::vector<TextCall> calls;
  for (const TTextKey &row : table)
    calls.emplace_back(std::string(row.Control), std::string(row.Default));
  return calls;
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---------------------------------------------------------------------------
// The tables

struct RowCase {
  std::span<const TTextKey> table;
  size_t index;
  std::string_view key, defaultText, control;
};

TEST(InterfaceTextTables, HoldTheRowsInReadOrderWithTheirExactSpelling) {
  ASSERT_EQ(MainWindowTexts.size(), 24u);
  ASSERT_EQ(FilterDialogTexts.size(), 16u);
  const RowCase cases[] = {
      {MainWindowTexts, 0, "Form_Caption", "Vantor", "frmMain"},
      {MainWindowTexts, 1, "ToolBarTbMain_Caption", "Main", "tbMainToolBar"},
      {MainWindowTexts, 2, "PgInfo_Caption", "Capture Info", "pgInfo"},
      {MainWindowTexts, 9, "btAapterList_Caption", "Network Adapters", "btListAdapter"},
      {MainWindowTexts, 10, "btStart_Caption", "&Start Capture", "btStart"},
      {MainWindowTexts, 11, "btStop_Caption", "S&top", "btStop"},
      {MainWindowTexts, 12, "btIgnorNonIP_Caption", "Ignor Non IP", "btIgnorNonIP"},
      {MainWindowTexts, 19, "btSave_Caption", "S&ave to File", "btSave"},
      {MainWindowTexts, 21, "glbTrf_Caption", "Traffic:", "glbTrf"},
      {MainWindowTexts, 23, "glbDV_Caption", "Data View", "glbDV"},
      {FilterDialogTexts, 0, "fmFilter_pgGen_Caption", "General", "pgGen"},
      {FilterDialogTexts, 4, "fmFilter_gpIP_Caption", "IP Source and Destication", "gpIP"},
      {FilterDialogTexts, 10, "fmFilter_chkIgZero_Caption",
       "Igron zero length package (Control Package)", "chkIgZero"},
      {FilterDialogTexts, 11, "fmFilter_chkReturn_Caption",
       "Return packages from  Dest IP and Port", "chkReturn"},
      {FilterDialogTexts, 12, "fmFilter_lbF_Caption", "Apply Filters", "lbF"},
      {FilterDialogTexts, 13, "fmFilter_lbAF_Caption", "Avaliable Filters", "lbAF"},
      {FilterDialogTexts, 15, "fmFilter_btCancel_Caption", "&Cancel", "btCancel"},
  };
  for (const RowCase &c : cases) {
    SCOPED_TRACE(c.key);
    const TTextKey &row = c.table[c.index];
    EXPECT_EQ(row.Key, c.key);
    EXPECT_EQ(row.Default, c.defaultText);
    EXPECT_EQ(row.Control, c.control);
  }
}

TEST(InterfaceTextTables, KeysAreUniqueAndNameTheirControl) {
  // A repeated key would make the second control show the first one's text.
  for (std::span<const TTextKey> table :
       {std::span<const TTextKey>(MainWindowTexts), std::span<const TTextKey>(FilterDialogTexts)}) {
    std::set<std::string> seen;
    for (const TTextKey &row : table)
      EXPECT_TRUE(seen.insert(std::string(row.Key)).second) << row.Key;
  }
  // Apart from four historical keys, a main window key is the control's
  // name + "_Caption"; this catches a control name typed wrongly.
  const std::set<std::string_view> irregular = {"Form_Caption", "ToolBarTbMain_Caption",
                                                "PgInfo_Caption", "btAapterList_Caption"};
  for (const TTextKey &row : MainWindowTexts) {
    if (!irregular.contains(row.Key)) {
      EXPECT_EQ(row.Key, std::string(row.Control) + "_Caption");
    }
  }
  for (const TTextKey &row : FilterDialogTexts)
    EXPECT_EQ(row.Key, "fmFilter_" + std::string(row.Control) + "_Caption");
}

TEST(InterfaceTextTables, ComposedTexts) {
  const std::pair<TTextKey, std::pair<std::string_view, std::string_view>> cases[] = {
      {kStrBySend, {"STR_BYSEND", "Bytes Sent"}},
      {kStrRec, {"STR_REC", "Received"}},
      {kStrPackSend, {"STR_PACKSEND", "Package Sent"}},
      {kGlbDVCaption, {"glbDV_Caption", "Data View"}},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(text.Key, expected.first);
    EXPECT_EQ(text.Default, expected.second);
  }
  // The heading's composed read must agree with the main window's row, or
  // the file would hold two defaults for one key.
  EXPECT_EQ(kGlbDVCaption.Key, MainWindowTexts.back().Key);
  EXPECT_EQ(kGlbDVCaption.Default, MainWindowTexts.back().Default);
}

// ---------------------------------------------------------------------------
// Loading texts through the store

struct LoaderCase {
  const char *name;
  void (*load)(TBaseConfig &, const TTextSetter &);
  std::span<const TTextKey> table;
};

const LoaderCase kLoaders[] = {
    {"LoadLanguage", LoadLanguage, MainWindowTexts},
    {"LoadCaptions", LoadCaptions, FilterDialogTexts},
};

TEST(InterfaceTextLoading, EmptyStoreGivesDefaultsInOrderAndRecordsEveryKey) {
  for (const LoaderCase &loader : kLoaders) {
    SCOPED_TRACE(loader.name);
    TFileConfig store;
    RecordingSetter recorder;
    loader.load(store, recorder.setter());
    EXPECT_EQ(recorder.calls, defaultsOf(loader.table));
    EXPECT_EQ(store.Keys, keysOf(loader.table));
    std::vector<std::string> defaults;
    for (const TTextKey &row : loader.table)
      defaults.emplace_back(row.Default);
    EXPECT_EQ(store.Values, defaults);
  }
}

TEST(InterfaceTextLoading, CreatedLanguageFileListsTheMainWindowKeysInTableOrder) {
  TFileConfig store;
  LoadLanguage(store, [](std::string_view, const std::string &) {});
  const std::string text = store.SaveText();
  EXPECT_TRUE(text.starts_with("Form_Caption=Vantor\r\n"
                               "ToolBarTbMain_Caption=Main\r\n"
                               "PgInfo_Caption=Capture Info\r\n"))
      << text;
  EXPECT_TRUE(text.ends_with("glbNetCard_Caption=Network Adapter\r\n"
                             "glbDV_Caption=Data View\r\n"))
      << text;
  size_t lines = 0;
  for (char c : text)
    lines += c == '\n';
  EXPECT_EQ(lines, 24u);
}

TEST(InterfaceTextLoading, StoredTextsWinWhateverTheirCaseAndMissingKeysAreAppended) {
  TFileConfig store;
  store.LoadFromText("Form_Caption=Monitor\r\n"
                     "btstart_caption=Go\r\n"
                     "btStop_Caption=\r\n");
  RecordingSetter recorder;
  LoadLanguage(store, recorder.setter());

  std::vector<TextCall> expected = defaultsOf(MainWindowTexts);
  expected[0].second = "Monitor";
  expected[10].second = "Go";
  expected[11].second = ""; // an empty text is shown as empty, not replaced
  EXPECT_EQ(recorder.calls, expected);

  // The stored lines keep their place and letter case; the 21 others follow
  // in table order, none of the matched keys added a second time.
  std::vector<std::string> keys = {"Form_Caption", "btstart_caption", "btStop_Caption"};
  for (const TTextKey &row : MainWindowTexts) {
    if (row.Key != "Form_Caption" && row.Key != "btStart_Caption" && row.Key != "btStop_Caption")
      keys.emplace_back(row.Key);
  }
  EXPECT_EQ(store.Keys, keys);
}

TEST(InterfaceTextLoading, FilterCaptionsAppendAfterTheMainWindowKeys) {
  TFileConfig store;
  LoadLanguage(store, [](std::string_view, const std::string &) {});
  LoadCaptions(store, [](std::string_view, const std::string &) {});
  // Opening the dialog a second time reads from memory and adds nothing.
  LoadCaptions(store, [](std::string_view, const std::string &) {});
  std::vector<std::string> keys = keysOf(MainWindowTexts);
  for (const std::string &key : keysOf(FilterDialogTexts))
    keys.push_back(key);
  EXPECT_EQ(store.Keys, keys);
}

TEST(InterfaceTextLoading, ComposedTextsComeFromTheStoreOrAreRecorded) {
  TFileConfig store;
  store.LoadFromText("str_rec=Empfangen\r\n");
  EXPECT_EQ(ReadText(store, kStrRec), "Empfangen");
  EXPECT_EQ(ReadText(store, kStrBySend), "Bytes Sent");
  EXPECT_EQ(ReadText(store, kStrPackSend), "Package Sent");
  EXPECT_EQ(store.Keys, (std::vector<std::string>{"str_rec", "STR_BYSEND", "STR_PACKSEND"}));
}

// ---------------------------------------------------------------------------
// The language identifier of the locale

TEST(SystemLanguage, LocaleNamesMapToWindowsLanguageIdentifiers) {
  const std::pair<std::string_view, int32_t> cases[] = {
      {"en_US.UTF-8", 1033},
      {"en_US", 1033},
      {"de_DE.UTF-8", 1031},
      {"de_DE.UTF-8@euro", 1031},
      {"de_DE@euro", 1031},
      {"fr_FR.ISO-8859-1", 1036},
      {"zh_CN.UTF-8", 2052},
      {"zh_TW.Big5", 1028},
      {"C", 1033},
      {"C.UTF-8", 1033},
      {"POSIX", 1033},
      {"", 1033},
      {"xx_YY", 1033},
      {"xx_YY.UTF-8", 1033},
      {".UTF-8", 1033},
      {std::string_view("not a locale name at all, far longer than any ICU buffer "
                        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"),
       1033},
  };
  for (const auto &[locale, id] : cases)
    EXPECT_EQ(LanguageIdForLocale(locale), id) << '"' << locale << '"';
}

struct EnvironmentCase {
  std::string_view lcAll, lcMessages, lang;
  int32_t expected;
};

TEST(SystemLanguage, FirstNonEmptyOfLcAllLcMessagesLangDecides) {
  const EnvironmentCase cases[] = {
      {"zh_CN.UTF-8", "", "de_DE.UTF-8", 2052},      // LC_ALL wins over LANG
      {"zh_CN.UTF-8", "fr_FR.UTF-8", "de_DE", 2052}, // and over LC_MESSAGES
      {"", "fr_FR.UTF-8", "de_DE.UTF-8", 1036},      // LC_MESSAGES over LANG
      {"", "", "de_DE.UTF-8", 1031},
      {"C", "", "de_DE.UTF-8", 1033}, // "C" is set, so it decides
      {"", "", "", 1033},
  };
  for (const EnvironmentCase &c : cases)
    EXPECT_EQ(LanguageIdForEnvironment(c.lcAll, c.lcMessages, c.lang), c.expected)
        << c.lcAll << " | " << c.lcMessages << " | " << c.lang;
}

// Checks that the real variables are the ones read; restores them after.
class LocaleEnvironment : public ::testing::Test {
protected:
  static void put(const char *name, const std::optional<std::string> &value) {
    SavedEnvironment::Put(name, value);
  }

private:
  SavedEnvironment saved_{{"LC_ALL", "LC_MESSAGES", "LANG"}};
};

TEST_F(LocaleEnvironment, SystemLanguageIdReadsTheProcessEnvironment) {
  put("LC_ALL", std::nullopt);
  put("LC_MESSAGES", std::nullopt);
  put("LANG", std::nullopt);
  EXPECT_EQ(SystemLanguageId(), 1033);
  put("LANG", "de_DE.UTF-8");
  EXPECT_EQ(SystemLanguageId(), 1031);
  put("LC_MESSAGES", "fr_FR.UTF-8");
  EXPECT_EQ(SystemLanguageId(), 1036);
  put("LC_ALL", "zh_CN.UTF-8");
  EXPECT_EQ(SystemLanguageId(), 2052);
}

// ---------------------------------------------------------------------------
// Choosing the language file

struct ChoiceCase {
  const char *settings; // "Vantor.ini" as loaded
  int32_t systemId;
  const char *file;  // expected file name in the folder
  const char *saved; // the settings text afterwards
};

TEST(LanguageFileChoice, LangSettingOverridesTheSystemIdAndIsRecordedWhenMissing) {
  const ChoiceCase cases[] = {
      {"", 1033, "Lang_1033.ini", "LANG=1033\r\n"},
      {"", 1031, "Lang_1031.ini", "LANG=1031\r\n"},
      {"Other=1\r\n", 2052, "Lang_2052.ini", "Other=1\r\nLANG=2052\r\n"},
      {"LANG=en\r\n", 1031, "Lang_en.ini", "LANG=en\r\n"},
      {"LANG=2052\r\n", 1033, "Lang_2052.ini", "LANG=2052\r\n"},
      {"LANG=2052\r\n", 1031, "Lang_2052.ini", "LANG=2052\r\n"},
      {"lang=1036\r\n", 1033, "Lang_1036.ini", "lang=1036\r\n"},
  };
  for (const ChoiceCase &c : cases) {
    SCOPED_TRACE(std::string(c.settings) + " / " + std::to_string(c.systemId));
    TFileConfig settings;
    settings.LoadFromText(c.settings);
    EXPECT_EQ(ChooseLanguageFile(settings, "/data/Vantor/", c.systemId),
              std::string("/data/Vantor/") + c.file);
    EXPECT_EQ(settings.SaveText(), c.saved);
  }
}

class FirstRunFolder : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("vantor_texts_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string dataFolder() const { return folder_.string() + "/"; }
  fs::path folder_;
};

TEST_F(FirstRunFolder, FirstRunCreatesBothFilesWithDefaults) {
  TFileConfig settings;
  settings.SetFileName(dataFolder() + "Vantor.ini");
  EXPECT_EQ(settings.Load(), -1); // no file yet: the normal first run
  TFileConfig lang;
  lang.SetFileName(ChooseLanguageFile(settings, dataFolder(), 1031));
  lang.Load();
  RecordingSetter recorder;
  LoadLanguage(lang, recorder.setter());
  EXPECT_EQ(recorder.calls, defaultsOf(MainWindowTexts));
  ASSERT_EQ(settings.Save(), 0);
  ASSERT_EQ(lang.Save(), 0);

  EXPECT_EQ(readFile(folder_ / "Vantor.ini"), "LANG=1031\r\n");
  std::string expected;
  for (const TTextKey &row : MainWindowTexts)
    expected += std::string(row.Key) + "=" + std::string(row.Default) + "\r\n";
  EXPECT_EQ(readFile(folder_ / "Lang_1031.ini"), expected);

  // The next start finds the files and reads the same texts back.
  TFileConfig settings2;
  settings2.SetFileName(dataFolder() + "Vantor.ini");
  ASSERT_EQ(settings2.Load(), 0);
  EXPECT_EQ(ChooseLanguageFile(settings2, dataFolder(), 1033), dataFolder() + "Lang_1031.ini");
}

} // namespace
