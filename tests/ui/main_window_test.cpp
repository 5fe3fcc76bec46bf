// The main window under the offscreen platform: start-up in order with an
// empty settings folder and the files written at close, captures started and
// stopped between two network namespaces with both engines, a failed start,
// closing during a capture, the lists' layout rule, the Data View flush and
// the general error display.
#include "ui/main_window.h"

#include "capture/pcap_binding.h"
#include "tests/support/file_helpers.h"
#include "tests/support/netns.h"
#include "tests/support/saved_environment.h"
#include "tests/support/temp_folder.h"
#include "ui/data_view_writer.h"
#include "ui/error_display.h"
#include "ui/info_page_layout.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void processFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

std::string text(const QWidget *widget) {
  if (auto *label = qobject_cast<const QLabel *>(widget))
    return label->text().toStdString();
  if (auto *button = qobject_cast<const QAbstractButton *>(widget))
    return button->text().toStdString();
  return {};
}

std::string cell(QTreeView *view, int row, int column) {
  return view->model()->index(row, column).data().toString().toStdString();
}

// A window on a settings folder of its own, with error boxes counted instead
// of shown.
class MainWindow : public ::testing::Test {
protected:
  void SetUp() override {
    SavedEnvironment::Put("APPDATA", temp_.path());
    SavedEnvironment::Put("LC_ALL", std::string("C"));
    SavedEnvironment::Put("LANG", std::nullopt);
    SetErrorBoxHook([this](QWidget *, const std::string &message) { boxes_.push_back(message); });
  }
  void TearDown() override {
    window_.reset();
    SetErrorBoxHook(nullptr);
  }

  TfrmMain &open() {
    window_ = std::make_unique<TfrmMain>();
    return *window_;
  }
  template <typename T> T *child(const char *name) {
    T *found = window_->findChild<T *>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  std::string folder() const { return temp_.path() + "/Vantor/"; }

  SavedEnvironment environment_{{"APPDATA", "LC_ALL", "LANG", "VANTOR_LIBPCAP"}};
  TempFolder temp_{"window"};
  std::vector<std::string> boxes_;
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainWindow, StartUpBuildsEverythingAndCloseWritesItsFiles) {
  TfrmMain &window = open();
  for (const char *name :
       {"tbMainToolBar", "barMain",         "barTask",      "barFilter",     "barEdit",
        "btListAdapter", "btStart",         "btStop",       "btPromiscuous", "btIgnorNonIP",
        "btFList",       "AdvOfficePager1", "pgInfo",       "pgDataAll",     "pgAbout",
        "glbNetCard",    "glbTrf",          "LabelTraffic", "lstTraffic",    "lstService",
        "glbDV",         "logWin",          "sb",           "Timer1",        "FormSize1"})
    EXPECT_NE(window.findChild<QObject *>(name), nullptr) << name;

  // Captions from the language file's defaults.
  EXPECT_EQ(window.windowTitle().toStdString(), "Vantor");
  EXPECT_EQ(text(child<QToolButton>("btStart")), "&Start Capture");
  EXPECT_EQ(text(child<QToolButton>("btListAdapter")), "Network Adapters");
  EXPECT_EQ(child<QTabWidget>("AdvOfficePager1")->tabText(0).toStdString(), "Capture Info");
  EXPECT_EQ(text(child<QLabel>("glbDV")), "Data View - All Data");
  EXPECT_TRUE(child<QToolButton>("btStart")->isEnabled());
  EXPECT_FALSE(child<QToolButton>("btStop")->isEnabled());
  EXPECT_TRUE(child<QToolButton>("btPromiscuous")->isChecked());
  EXPECT_TRUE(child<QToolButton>("btIgnorNonIP")->isChecked());
  const std::string status = text(child<QLabel>("sbPanel0"));
  EXPECT_TRUE(status == "Using RAW Socket" || status.rfind("Using libpcap(Driver:", 0) == 0)
      << status;
  EXPECT_EQ(window.SelectedAdapter(), 0) << "the first adapter is selected";
  EXPECT_FALSE(text(child<QLabel>("Label2")).empty()) << "its name is shown";
  EXPECT_EQ(window.DataFolder(), folder());

  window.close();
  EXPECT_NE(ReadWholeFile(folder() + "Vantor.ini").find("LANG=1033\r\n"), std::string::npos);
  const std::string lang = ReadWholeFile(folder() + "Lang_1033.ini");
  EXPECT_NE(lang.find("btStart_Caption=&Start Capture\r\n"), std::string::npos) << lang;
  EXPECT_NE(lang.find("glbDV_Caption=Data View\r\n"), std::string::npos) << lang;
  EXPECT_NE(ReadWholeFile(folder() + "VantorForm.INI").find("[frmMain]"), std::string::npos);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindow, ASavedLanguageChoiceAndItsFileGiveTheCaptions) {
  std::filesystem::create_directories(folder());
  std::ofstream(folder() + "Vantor.ini") << "LANG=2052\r\n";
  std::ofstream(folder() + "Lang_2052.ini") << "btStart_Caption=Go\r\nSTR_REC=Recv\r\n";
  TfrmMain &window = open();
  EXPECT_EQ(text(child<QToolButton>("btStart")), "Go");
  EXPECT_EQ(text(child<QToolButton>("btStop")), "S&top") << "missing keys keep their default";
  window.close();
  EXPECT_NE(ReadWholeFile(folder() + "Lang_2052.ini").find("btStop_Caption=S&top"),
            std::string::npos);
}

TEST(InfoPageLayout, ListsShareTheHeightBelowTheSummary) {
  const std::pair<int, int> cases[] = {{350, 85}, {351, 86}, {353, 86}, {352, 86}, {180, 0}};
  for (const auto &[page, list] : cases)
    EXPECT_EQ(ListHeightFor(page), list) << page;
}

TEST_F(MainWindow, ResizingThePageLaysTheListsOut) {
  TfrmMain &window = open();
  window.show();
  QWidget *page = child<QWidget>("pgInfo");
  QApplication::processEvents();
  // Grow the window until the page is 351 high: (351 - 180) / 2 = 85.5 -> 86.
  window.resize(window.width(), window.height() + 351 - page->height());
  QApplication::processEvents();
  ASSERT_EQ(page->height(), 351);
  const int width = page->width();
  EXPECT_EQ(child<QTreeView>("lstTraffic")->geometry(), QRect(49, 160, width - 70, 86));
  EXPECT_EQ(child<QTreeView>("lstService")->geometry(), QRect(49, 256, width - 70, 86));
  EXPECT_EQ(child<QLabel>("glbTrf")->width(), width - 50);
  window.close();
}

TEST(DataViewWriter, TagsStyleTheLinesThatFollowThem) {
  QTextEdit view;
  TDataViewWriter writer(&view);
  writer.Flush({"plain", "<b>", "<C>255", "red\r\nbold", "<C>nonsense", "<B> ", "last"});
  QTextDocument *doc = view.document();
  ASSERT_EQ(doc->blockCount(), 5);
  const auto formatOf = [doc](int block) {
    return doc->findBlockByNumber(block).begin().fragment().charFormat();
  };
  EXPECT_EQ(doc->findBlockByNumber(0).text().toStdString(), "plain");
  EXPECT_NE(formatOf(0).fontWeight(), QFont::Bold);
  EXPECT_EQ(doc->findBlockByNumber(1).text().toStdString(), "red");
  EXPECT_EQ(formatOf(1).fontWeight(), QFont::Bold);
  EXPECT_EQ(formatOf(1).foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(doc->findBlockByNumber(2).text().toStdString(), "bold");
  EXPECT_EQ(doc->findBlockByNumber(3).text().toStdString(), "<B> ") << "a tag with a space is text";
  EXPECT_EQ(formatOf(4).foreground().color(), QColor(255, 0, 0))
      << "a colour tag without a number changes nothing";
  EXPECT_EQ(formatOf(4).fontPointSize(), 9);
}

TEST(GeneralErrorDisplay, AnExceptionFromAnEventHandlerIsShownAndTheProgramGoesOn) {
  struct Throwing : QObject {
    bool event(QEvent *) override { throw std::runtime_error("handler failed"); }
  };
  std::vector<std::string> shown;
  SetErrorBoxHook([&shown](QWidget *, const std::string &message) { shown.push_back(message); });
  Throwing target;
  QEvent event(QEvent::User);
  ::testing::internal::CaptureStderr();
  QApplication::sendEvent(&target, &event);
  const std::string written = ::testing::internal::GetCapturedStderr();
  SetErrorBoxHook(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>{"handler failed"});
  EXPECT_NE(written.find("handler failed"), std::string::npos);
}

// ------------------------------------------------------- captures in namespaces

// Each engine in turn: the driver engine when libpcap loads, the raw engine
// with libpcap made unloadable.
class WindowCapture : public MainWindow, public ::testing::WithParamInterface<const char *> {
protected:
  void SetUp() override {
    MainWindow::SetUp();
    if (!net_.ready())
      GTEST_SKIP() << net_.error();
    raw_ = std::string(GetParam()) == "raw";
    if (raw_) {
      UnloadPacketDll();
      SavedEnvironment::Put("VANTOR_LIBPCAP", std::string("/nonexistent/libpcap-vantor.so"));
    } else if (!LoadPacketDll()) {
      GTEST_SKIP() << "libpcap is not installed";
    }
    ASSERT_TRUE(net_.enterA());
  }
  void TearDown() override {
    MainWindow::TearDown();
    if (net_.ready())
      net_.leave();
    if (raw_) {
      SavedEnvironment::Put("VANTOR_LIBPCAP", std::nullopt);
      UnloadPacketDll();
    }
  }

  // Selects the adapter of that name in the window's list.
  void select(TfrmMain &window, const std::string &name) {
    QAction *entry = window.findChild<QAction *>(QString::fromStdString("adapter:" + name));
    ASSERT_NE(entry, nullptr) << "no adapter " << name;
    entry->trigger();
  }

  void ping(int count) {
    const CommandOutput out = TestNetnsPair::exec(
        net_.b(), "ping -c " + std::to_string(count) + " -i 0.2 -W 1 " + net_.a().addrText);
    ASSERT_EQ(out.status, 0) << out.output;
  }

  void expectPing(int count) {
    const std::string n = std::to_string(count);
    EXPECT_NE(text(child<QLabel>("LabelTraffic")).find("Package Sent " + n + ", Received " + n),
              std::string::npos)
        << text(child<QLabel>("LabelTraffic"));
    QTreeView *traffic = child<QTreeView>("lstTraffic");
    ASSERT_EQ(traffic->model()->rowCount(), 1);
    EXPECT_EQ(cell(traffic, 0, 0), net_.a().addrText);
    EXPECT_EQ(cell(traffic, 0, 1), net_.b().addrText);
    EXPECT_EQ(cell(traffic, 0, 2), "ICMP");
    EXPECT_EQ(cell(traffic, 0, 7), n);
    EXPECT_EQ(cell(traffic, 0, 8), n);
    QTreeView *service = child<QTreeView>("lstService");
    ASSERT_EQ(service->model()->rowCount(), 2);
    EXPECT_EQ(cell(service, 0, 0), "TOTALS");
    EXPECT_EQ(cell(service, 1, 0), "echo");
    EXPECT_EQ(cell(service, 1, 5), "1");
  }

  TestNetnsPair net_;
  bool raw_ = false;
};

TEST_P(WindowCapture, StartAndStopFillTheListsAndTheLabelWithTheLastTick) {
  TfrmMain &window = open();
  EXPECT_EQ(window.Pipeline().DriverAvailable(), !raw_);
  select(window, net_.a().dev);
  EXPECT_EQ(text(child<QLabel>("Label2")), net_.a().dev);
  EXPECT_EQ(text(child<QLabel>("Label3")), net_.a().addrText + "/255.255.255.0;");
  window.btStartClick();
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_FALSE(child<QToolButton>("btStart")->isEnabled());
  EXPECT_TRUE(child<QToolButton>("btStop")->isEnabled());
  ping(3);
  // No tick yet: Stop's last tick alone must show every packet.
  window.btStopClick();
  expectPing(3);
  EXPECT_TRUE(child<QToolButton>("btStart")->isEnabled());
  EXPECT_FALSE(child<QToolButton>("btStop")->isEnabled());
  EXPECT_FALSE(window.Pipeline().Capturing);
  // Later ticks change nothing.
  processFor(1200);
  expectPing(3);
}

TEST_P(WindowCapture, AStartThatFailsShowsOneErrorBoxAndStaysIdle) {
  // An interface that is down and has no address: the driver engine cannot
  // open it, the raw engine has no address to capture on.
  const CommandOutput added =
      TestNetnsPair::exec(net_.a(), "ip link add vdown0 type veth peer name vdown1");
  ASSERT_EQ(added.status, 0) << added.output;
  TfrmMain &window = open();
  select(window, "vdown0");
  window.btStartClick();
  ASSERT_EQ(boxes_.size(), 1u) << ::testing::PrintToString(boxes_);
  EXPECT_FALSE(boxes_[0].empty());
  EXPECT_TRUE(child<QToolButton>("btStart")->isEnabled());
  EXPECT_FALSE(child<QToolButton>("btStop")->isEnabled());
  EXPECT_FALSE(window.Pipeline().Capturing);
  window.btStopClick(); // nothing runs: nothing happens
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_P(WindowCapture, ClosingDuringACaptureStopsItFirst) {
  TfrmMain &window = open();
  select(window, net_.a().dev);
  window.btStartClick();
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  ping(2);
  window.close();
  expectPing(2);
  EXPECT_TRUE(std::filesystem::exists(folder() + "Vantor.ini"));
  EXPECT_TRUE(std::filesystem::exists(folder() + "VantorForm.INI"));
}

INSTANTIATE_TEST_SUITE_P(Engines, WindowCapture, ::testing::Values("driver", "raw"));

} // namespace
