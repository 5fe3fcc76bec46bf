// The product page's lines and their rendering, the values they come from,
// and the About dialog's version line, links and hover looks.
#include "ui/about_dialog.h"
#include "ui/product_info.h"
#include "ui/product_page.h"

#include "filters/plugin_modules.h"
#include "tests/support/temp_folder.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string fromView(std::string_view view) {
  return std::string(view);
}

// The plug-in table as a test sets it; the modules of the program are put
// back afterwards.
class ProductPage : public ::testing::Test {
protected:
  void SetUp() override {
    savedModules_ = FilterDLLs;
    savedCount_ = FilterDLLCount;
  }
  void TearDown() override {
    FilterDLLs = savedModules_;
    FilterDLLCount = savedCount_;
  }
  void load(const std::vector<TCustFilterDLL> &modules) {
    for (size_t i = 0; i < modules.size(); ++i)
      FilterDLLs[i] = modules[i];
    FilterDLLCount = int32_t(modules.size());
  }

private:
  std::array<TCustFilterDLL, kMaxFilterDLLs> savedModules_;
  int32_t savedCount_ = 0;
};

const std::vector<TCustFilterDLL> kTwoModules = {
    {nullptr, "DNS names 1.2", "/opt/vantor/LTDns.so"},
    {nullptr, "HTTP hosts 0.9", "/opt/vantor/LTHttp.so"},
};

// The lines from one heading up to the next one, the first heading excluded.
std::vector<std::string> section(const std::vector<TPageLine> &lines, const std::string &title) {
  std::vector<std::string> result;
  bool inside = false;
  for (const TPageLine &line : lines) {
    if (line.Heading) {
      if (inside)
        break;
      inside = line.Text == title;
      continue;
    }
    if (inside)
      result.push_back(line.Text);
  }
  return result;
}

std::string lineStarting(const std::vector<TPageLine> &lines, const std::string &start) {
  for (const TPageLine &line : lines)
    if (!line.Heading && line.Text.starts_with(start))
      return line.Text;
  return "(no line starting with " + start + ")";
}

// ------------------------------------------------------------ page lines

TEST(ProductPageLines, WholePageInItsOrder) {
  const TVersionValues version{"Prod", "2.3.4", "2.3.4.56", "Desc", "Maker", "(c) Maker", "TM"};
  const TEnvironmentValues environment{"host1", "Some Linux 1", "/opt/vantor/vantor"};
  std::vector<TPageLine> expected = {
      {true, "Product Information"},
      {false, "Product Name:Prod"},
      {false, "Product Version:2.3.4"},
      {false, fromView(kFreewareStatement)},
      {false, fromView(kDonationInvitation)},
      {false, VisitWebSiteLine()},
      {false, " "},
      {false, "Vantor captures with a raw packet socket or with libpcap; both need the CAP_NET_RAW "
              "capability (run as root, or give the program: setcap "
              "cap_net_raw,cap_net_admin=eip)"},
      {false, "The libpcap engine (Debian package libpcap0.8) captures whole frames and can use "
              "promiscuous mode:"},
      {false, "https://www.tcpdump.org/"},
      {false, " "},
      {true, "Environment Information"},
      {false, "Computer:host1"},
      {false, "OS Name:Some Linux 1"},
      {false, " "},
      {true, "Version Information"},
      {false, "/opt/vantor/vantor"},
      {false, "File Version:2.3.4.56"},
      {false, "File Description:Desc"},
      {false, "Company:Maker"},
      {false, "Copyright:(c) Maker"},
      {false, "TreadMark:TM"},
      {false, " "},
      {true, "Plugins Information"},
      {false, "/opt/vantor/LTDns.so"},
      {false, "DNS names 1.2"},
      {false, " "},
      {false, " "},
      {true, "Vantor License"},
      {false, "=================="},
  };
  for (std::string_view paragraph : kLicenseParagraphs) {
    expected.push_back({false, ""});
    expected.push_back({false, fromView(paragraph)});
  }
  expected.push_back({false, ""});
  expected.push_back({false, "The Vantor developers"});
  expected.push_back({false, "https://vantor.dev"});

  EXPECT_EQ(ProductPageLines(version, environment, std::span(kTwoModules.data(), 1)), expected);
}

TEST(ProductPageLines, EmptyValuesLeaveNothingAfterTheColon) {
  const std::vector<TPageLine> lines = ProductPageLines({}, {}, {});
  for (const char *start :
       {"Product Name:", "Product Version:", "Computer:", "OS Name:", "File Version:",
        "File Description:", "Company:", "Copyright:", "TreadMark:"})
    EXPECT_EQ(lineStarting(lines, start), start);
}

TEST_F(ProductPage, PluginSectionFollowsTheLoadedModules) {
  struct Case {
    std::vector<TCustFilterDLL> modules;
    std::vector<std::string> section;
  };
  const Case cases[] = {
      {{}, {" "}},
      {kTwoModules,
       {"/opt/vantor/LTDns.so", "DNS names 1.2", " ", "/opt/vantor/LTHttp.so", "HTTP hosts 0.9",
        " ", " "}},
  };
  for (const Case &c : cases) {
    load(c.modules);
    const std::vector<TPageLine> lines =
        ProductPageLines(CompiledVersionValues(), {}, LoadedFilterModules());
    EXPECT_EQ(section(lines, "Plugins Information"), c.section) << c.modules.size();
    // The licence heading comes straight after the section.
    const auto heading = std::find(lines.begin(), lines.end(), TPageLine{true, "Vantor License"});
    ASSERT_NE(heading, lines.end());
    EXPECT_EQ((heading - 1)->Text, " ");
  }
}

TEST_F(ProductPage, OnlyTheCountedRowsAreModules) {
  // Rows past the count are left from earlier loads and must not show.
  load(kTwoModules);
  FilterDLLCount = 1;
  ASSERT_EQ(LoadedFilterModules().size(), 1u);
  EXPECT_EQ(LoadedFilterModules()[0].Path, "/opt/vantor/LTDns.so");
}

TEST(ProductPageLines, CompiledVersionValues) {
  const std::string product = std::to_string(VANTOR_VERSION_MAJOR) + "." +
                              std::to_string(VANTOR_VERSION_MINOR) + "." +
                              std::to_string(VANTOR_VERSION_PATCH);
  const std::vector<TPageLine> lines =
      ProductPageLines(CompiledVersionValues(), ReadEnvironmentValues(), {});
  const std::vector<std::string> expected = {
      "Product Name:Vantor",
      "Product Version:" + product,
      "File Version:" + product + "." + std::to_string(VANTOR_BUILD_NUMBER),
      "File Description:Desktop IPv4 traffic monitor",
      "Company:The Vantor developers",
      "Copyright:Copyright (c) 2026 The Vantor developers",
      "TreadMark:",
  };
  for (const std::string &line : expected) {
    const std::string start = line.substr(0, line.find(':') + 1);
    EXPECT_EQ(lineStarting(lines, start), line);
  }
}

// ------------------------------------------------------------ product values

TEST(ProductInfo, LicenceMatchesTheLicenseFile) {
  // The page shows the licence the sources are given under: the LICENSE file
  // at the top of the tree, its paragraphs joined into single lines.
  const std::filesystem::path file =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "LICENSE";
  std::ifstream in(file);
  ASSERT_TRUE(in) << file;
  std::vector<std::string> paragraphs;
  std::string line;
  std::string current;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!current.empty())
        paragraphs.push_back(current);
      current.clear();
    } else {
      current += (current.empty() ? "" : " ") + line;
    }
  }
  if (!current.empty())
    paragraphs.push_back(current);
  ASSERT_EQ(paragraphs.size(), kLicenseParagraphs.size() + 1);
  EXPECT_EQ(paragraphs[0], "MIT License");
  for (size_t i = 0; i < kLicenseParagraphs.size(); ++i)
    EXPECT_EQ(paragraphs[i + 1], kLicenseParagraphs[i]) << i;
  EXPECT_EQ(kLicenseParagraphs[0], CompiledVersionValues().LegalCopyright);
}

TEST(ProductInfo, PrettyNameOfOsRelease) {
  struct Case {
    const char *content;
    const char *name;
  };
  const Case cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Fedora Linux 40'\n", "Fedora Linux 40"},
      {"PRETTY_NAME=Arch\n", "Arch"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$x\"\n", "Say \"hi\" \\ $x"},
      {"PRETTY_NAME=\"CRLF line\"\r\n", "CRLF line"},
      {"  PRETTY_NAME=\"Indented\"", "Indented"},
      {"PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n", "Second"},
      {"# PRETTY_NAME=\"Commented\"\nNAME=x\n", ""},
      {"XPRETTY_NAME=\"Other key\"\nPRETTY_NAMES=\"Other key\"\n", ""},
      {"PRETTY_NAME=\"Unterminated\n", "Unterminated"},
      {"PRETTY_NAME=\n", ""},
      {"", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(PrettyNameOf(c.content), c.name) << c.content;
}

TEST(ProductInfo, OsNameFallsBackToTheKernel) {
  utsname system{};
  ASSERT_EQ(uname(&system), 0);
  const std::string kernel = std::string(system.sysname) + " " + system.release;
  TempFolder folder("product-info");
  const std::string named = folder.path() + "/named";
  const std::string unnamed = folder.path() + "/unnamed";
  std::ofstream(named) << "PRETTY_NAME=\"Test OS 7\"\n";
  std::ofstream(unnamed) << "NAME=\"Test OS\"\nPRETTY_NAME=\"\"\n";
  EXPECT_EQ(OsNameFrom(named), "Test OS 7");
  EXPECT_EQ(OsNameFrom(unnamed), kernel);
  EXPECT_EQ(OsNameFrom(folder.path() + "/missing"), kernel);
}

TEST(ProductInfo, EnvironmentOfThisProcess) {
  const TEnvironmentValues environment = ReadEnvironmentValues();
  EXPECT_EQ(environment.ExecutablePath, QCoreApplication::applicationFilePath().toStdString());
  EXPECT_EQ(environment.ComputerName, QSysInfo::machineHostName().toStdString());
  EXPECT_FALSE(environment.OsName.empty());
}

// ------------------------------------------------------------ rendered page

TEST_F(ProductPage, PageShowsTheLinesWithHeadingsNavyBold) {
  load(kTwoModules);
  TProductPage page;
  EXPECT_EQ(page.objectName(), "pgAbout");
  auto *title = page.findChild<QLabel *>("GradientLabel1");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), QString(18, ' ') + "Vantor");
  EXPECT_TRUE(title->alignment() & Qt::AlignTop);
  EXPECT_TRUE(title->styleSheet().contains("#c7d8ed")) << title->styleSheet().toStdString();
  auto *icon = page.findChild<QLabel *>("Image3");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->size(), QSize(32, 32));
  auto *view = page.findChild<QTextEdit *>("reAbout");
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isReadOnly());
  EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(view->document()->isEmpty());

  page.WritePageText();
  const std::vector<TPageLine> lines =
      ProductPageLines(CompiledVersionValues(), ReadEnvironmentValues(), LoadedFilterModules());
  ASSERT_EQ(view->document()->blockCount(), int(lines.size()));
  const QColor navy(0, 0, 128);
  QTextBlock block = view->document()->begin();
  for (const TPageLine &line : lines) {
    EXPECT_EQ(block.text().toStdString(), line.Text);
    std::vector<QTextCharFormat> formats = {block.charFormat()};
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
      formats.push_back(fragment.fragment().charFormat());
    for (const QTextCharFormat &format : formats) {
      EXPECT_EQ(format.fontPointSize(), 9) << line.Text;
      EXPECT_EQ(format.fontWeight() == QFont::Bold, line.Heading) << line.Text;
      EXPECT_EQ(format.foreground().color() == navy, line.Heading) << line.Text;
    }
    block = block.next();
  }
}

TEST_F(ProductPage, RebuildingStartsAfresh) {
  TProductPage page;
  auto *view = page.findChild<QTextEdit *>("reAbout");
  page.WritePageText();
  const QString first = view->toPlainText();
  const int blocks = view->document()->blockCount();
  page.WritePageText();
  EXPECT_EQ(view->toPlainText(), first);
  EXPECT_EQ(view->document()->blockCount(), blocks);
  // A module loaded since shows after the next rebuild.
  load(kTwoModules);
  page.WritePageText();
  EXPECT_EQ(view->document()->blockCount(), blocks + 6);
  EXPECT_TRUE(view->toPlainText().contains("/opt/vantor/LTHttp.so\nHTTP hosts 0.9\n"));
}

// ------------------------------------------------------------ About dialog

TEST(AboutVersionLine, ReadsTheFourNumbers) {
  struct Case {
    TFileVersion version;
    const char *line;
  };
  const Case cases[] = {
      {{1, 0, 0, 50}, "Version : 1.0.0 Build 50"},
      {{12, 34, 5, 65535}, "Version : 12.34.5 Build 65535"},
      {{0, 0, 0, 0}, "Version : 0.0.0 Build 0"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(AboutVersionLine(c.version), c.line);
}

class AboutDialog : public ::testing::Test {
protected:
  void SetUp() override {
    SetOpenLinkHook([this](const QUrl &url) { opened_.push_back(url.toString().toStdString()); });
    dialog_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
  }
  void TearDown() override { SetOpenLinkHook(nullptr); }

  QLabel *label(const char *name) {
    auto *found = dialog_.findChild<QLabel *>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  TfrmAbout dialog_;
  std::vector<std::string> opened_;
};

TEST_F(AboutDialog, ShowsTitleVersionAndProductLines) {
  EXPECT_EQ(dialog_.windowTitle(), "About");
  EXPECT_EQ(dialog_.size(), QSize(396, 247));
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());
  EXPECT_FALSE(dialog_.windowFlags() & Qt::WindowMinMaxButtonsHint);
  const std::string version = "Version : " + std::to_string(VANTOR_VERSION_MAJOR) + "." +
                              std::to_string(VANTOR_VERSION_MINOR) + "." +
                              std::to_string(VANTOR_VERSION_PATCH) + " Build " +
                              std::to_string(VANTOR_BUILD_NUMBER);
  EXPECT_EQ(label("Label2")->text().toStdString(), version);
  EXPECT_EQ(label("Label1")->text(), QGuiApplication::applicationDisplayName());
  EXPECT_EQ(label("Label5")->text().toStdString(), kFreewareStatement);
  EXPECT_EQ(label("Label6")->text().toStdString(), kDonationInvitation);
  EXPECT_TRUE(label("Label3")->text().contains("2026 The Vantor developers"));
  EXPECT_TRUE(label("Label3")->text().contains("https://vantor.dev"));
  EXPECT_EQ(label("Label4")->text(), "hello@vantor.dev");
  EXPECT_EQ(label("Image1")->size(), QSize(49, 49));
  EXPECT_EQ(label("Image2")->size(), QSize(122, 47));
  EXPECT_FALSE(label("Image2")->pixmap().isNull());
  // Every line fits the fixed client area.
  for (QLabel *line : dialog_.findChildren<QLabel *>())
    EXPECT_TRUE(dialog_.rect().contains(line->geometry())) << line->objectName().toStdString();
}

TEST_F(AboutDialog, OkCloses) {
  auto *ok = dialog_.findChild<QPushButton *>("Button1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "&OK");
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
}

TEST_F(AboutDialog, LinksOpenTheirAddresses) {
  struct Case {
    const char *control;
    const char *url;
  };
  const Case cases[] = {
      {"Image2", "https://vantor.dev/donate"},
      {"Label3", "https://vantor.dev"},
      {"Label4", "mailto:hello@vantor.dev"},
  };
  for (const Case &c : cases) {
    opened_.clear();
    QTest::mouseClick(label(c.control), Qt::LeftButton);
    EXPECT_EQ(opened_, std::vector<std::string>{c.url}) << c.control;
  }
  // Text that is not a link opens nothing.
  opened_.clear();
  QTest::mouseClick(label("Label5"), Qt::LeftButton);
  EXPECT_TRUE(opened_.empty());
}

TEST_F(AboutDialog, LetGoOffTheLinkOpensNothing) {
  QLabel *link = label("Label3");
  QTest::mousePress(link, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-20, link->height() + 20));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(AboutDialog, LinksLightUpUnderTheMouse) {
  const QPointF inside(2, 2);
  for (const char *name : {"Label3", "Label4"}) {
    QLabel *link = label(name);
    QEnterEvent enter(inside, inside, link->mapToGlobal(inside));
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255)) << name;
    EXPECT_TRUE(link->font().underline()) << name;
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor) << name;

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 0)) << name;
    EXPECT_FALSE(link->font().underline()) << name;
    EXPECT_FALSE(link->testAttribute(Qt::WA_SetCursor)) << name;
  }
  QLabel *donate = label("Image2");
  QEnterEvent enter(inside, inside, donate->mapToGlobal(inside));
  QApplication::sendEvent(donate, &enter);
  EXPECT_EQ(donate->cursor().shape(), Qt::PointingHandCursor);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(donate, &leave);
  EXPECT_FALSE(donate->testAttribute(Qt::WA_SetCursor));
}

} // namespace
