// The main window under the offscreen platform: start-up in order with an
// empty settings folder and the files written at close, captures started and
// stopped between two network namespaces with both engines, a failed start,
// closing during a capture, the lists' layout rule, the Data View flush and
// the general error display.
#include "ui/main_window.h"

#include "capture/pcap_binding.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "tests/support/file_helpers.h"
#include "tests/support/netns.h"
#include "tests/support/rtf_reader.h"
#include "tests/support/saved_environment.h"
#include "tests/support/temp_folder.h"
#include "ui/data_view_writer.h"
#include "ui/document_lines.h"
#include "ui/error_display.h"
#include "ui/filter_dialog.h"
#include "ui/info_page_layout.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
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
  QPlainTextEdit view;
  TDataViewWriter writer(&view);
  writer.Flush({"plain", "<b>", "<C>255", "red\r\nbold", "<C>nonsense", "<B> ", "last"});
  // One block per text item, its lines joined by line separators.
  QTextDocument *doc = view.document();
  EXPECT_EQ(view.toPlainText().toStdString(), "plain\nred\nbold\n<B> \nlast");
  ASSERT_EQ(doc->blockCount(), 4);
  const auto formatOf = [doc](int block) {
    return doc->findBlockByNumber(block).begin().fragment().charFormat();
  };
  EXPECT_EQ(doc->findBlockByNumber(0).text().toStdString(), "plain");
  EXPECT_NE(formatOf(0).fontWeight(), QFont::Bold);
  EXPECT_EQ(doc->findBlockByNumber(1).text(), QString("red") + QChar::LineSeparator + "bold");
  EXPECT_EQ(formatOf(1).fontWeight(), QFont::Bold);
  EXPECT_EQ(formatOf(1).foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(doc->findBlockByNumber(2).text().toStdString(), "<B> ") << "a tag with a space is text";
  EXPECT_EQ(formatOf(3).foreground().color(), QColor(255, 0, 0))
      << "a colour tag without a number changes nothing";
  EXPECT_EQ(formatOf(3).fontPointSize(), 9);

  // Read back as lines, as the RTF writer reads them.
  const TDocumentLines lines(*doc);
  ASSERT_EQ(lines.LineCount(), 5u);
  const char *expected[] = {"plain", "red", "bold", "<B> ", "last"};
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(std::string(lines.Line(i).Text), expected[i]) << i;
  EXPECT_TRUE(lines.Line(2).Attributes.Bold);
  EXPECT_EQ(lines.Line(2).Attributes.Colour, 255u);
  EXPECT_FALSE(lines.Line(0).Attributes.Bold);
  EXPECT_EQ(std::string(lines.Line(1).Text), "red") << "going back works too";
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

// ------------------------------------------------- Data View and filter commands

// What reaches the recording handler: "CAPSTAT", "CAPSTOP" or "packet".
std::vector<std::string> recorded;
int32_t recordingHandler(const void *data, int32_t size, TOutputProc) {
  recorded.push_back(size == 8 ? static_cast<const char *>(data) : "packet");
  return 0;
}

// Items through the window's own flush, as a tick hands them over.
void flush(TfrmMain &window, const std::vector<std::string> &items) {
  window.Pipeline().OnFlush(items);
}

TEST_F(MainWindow, ClearEmptiesTheViewButNotTheQueue) {
  TfrmMain &window = open();
  QPlainTextEdit *view = child<QPlainTextEdit>("logWin");
  flush(window, {"one", "two"});
  EXPECT_EQ(view->toPlainText().toStdString(), "one\ntwo");
  child<QToolButton>("btClear")->click();
  EXPECT_TRUE(view->document()->isEmpty());

  // A packet queued before Clear comes with the next tick.
  class Source : public TPacketSource {
  } source;
  TPacketInfo packet;
  packet.EtherType = 0x0800;
  packet.IpProto = 17;
  packet.FrameLen = 60;
  window.Pipeline().PacketArrived(source, packet);
  child<QToolButton>("btClear")->click();
  window.Pipeline().Capturing = true;
  window.Timer1Timer();
  window.Pipeline().Capturing = false;
  EXPECT_NE(view->toPlainText().toStdString().find("UDP Package Got"), std::string::npos);
}

TEST_F(MainWindow, SaveWritesTheViewAsRtfWithItsRuns) {
  TfrmMain &window = open();
  flush(window, {"plain", "<B>", "<C>255", "bold red", "<c>16711680", "bold blue {}\\"});
  window.AskRtfFileName = [this] { return QString::fromStdString(temp_.path() + "/view"); };
  child<QToolButton>("btSave")->click();
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  const TRtfDocument doc = ReadRtf(ReadWholeFile(temp_.path() + "/view.rtf"));
  ASSERT_TRUE(doc.Ok) << doc.Error;
  ASSERT_EQ(doc.Lines.size(), 3u);
  EXPECT_EQ(doc.Lines[0].Text, "plain");
  EXPECT_FALSE(doc.Lines[0].Bold);
  EXPECT_EQ(doc.Lines[1].Text, "bold red");
  EXPECT_TRUE(doc.Lines[1].Bold);
  EXPECT_EQ(doc.Lines[1].Colour, 255u);
  EXPECT_EQ(doc.Lines[2].Text, "bold blue {}\\");
  EXPECT_EQ(doc.Lines[2].Colour, 16711680u);
  EXPECT_EQ(doc.Lines[2].Font, "Courier New") << "the face a reader substitutes if it lacks it";
  EXPECT_EQ(doc.Lines[2].HalfPoints, 18);

  // A name with an extension keeps it; a file that cannot be written is
  // reported and the view stays.
  window.AskRtfFileName = [this] { return QString::fromStdString(temp_.path() + "/log.txt"); };
  child<QToolButton>("btSave")->click();
  EXPECT_TRUE(std::filesystem::exists(temp_.path() + "/log.txt"));
  window.AskRtfFileName = [this] { return QString::fromStdString(temp_.path() + "/no/such/x"); };
  child<QToolButton>("btSave")->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("no/such/x.rtf"), std::string::npos) << boxes_[0];
  EXPECT_EQ(child<QPlainTextEdit>("logWin")->toPlainText().count('\n'), 2);
}

TEST_F(MainWindow, ApplyNotifiesTheOldFilterAndNamesTheNewOne) {
  TfrmMain &window = open();
  ASSERT_TRUE(AddFilterProc({&recordingHandler, "Test", "Record", "records"}));
  TIPFilter &entry = IPFilters[size_t(IPFilterCount)];
  entry = IPFilters[0];
  entry.Name = "Recorder";
  entry.Procs = {};
  entry.Procs[0] = FilterProcs[size_t(FilterProcCount - 1)];
  entry.ProcCount = 1;
  ++IPFilterCount;
  window.FillDisplays();
  QComboBox *list = child<QComboBox>("btFList");
  ASSERT_EQ(list->itemText(1).toStdString(), "Recorder");
  recorded.clear();

  list->setCurrentIndex(1);
  child<QToolButton>("btFApply")->click();
  EXPECT_EQ(text(child<QLabel>("glbDV")), "Data View - Recorder");
  EXPECT_TRUE(recorded.empty()) << "no CAPSTAT for the new filter";
  list->setCurrentIndex(0);
  child<QToolButton>("btFApply")->click();
  EXPECT_EQ(recorded, std::vector<std::string>{"CAPSTOP"});
  EXPECT_EQ(text(child<QLabel>("glbDV")), "Data View - All Data");

  list->setCurrentIndex(-1);
  child<QToolButton>("btFApply")->click();
  EXPECT_EQ(recorded.size(), 1u) << "nothing selected: nothing happens";
}

TEST_F(MainWindow, CreateAndEditWriteFilterFilesAndRefreshTheList) {
  TfrmMain &window = open();
  QComboBox *list = child<QComboBox>("btFList");
  const int before = IPFilterCount;
  std::string typed = "Web";
  int shown = 0;
  window.ExecFilterDialog = [&](TfrmFilter &dialog) {
    ++shown;
    dialog.findChild<QLineEdit *>("eName")->setText(QString::fromStdString(typed));
    return true;
  };
  child<QToolButton>("btFilterNew")->click();
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_EQ(IPFilterCount, before + 1);
  EXPECT_TRUE(std::filesystem::exists(folder() + "Web.flt"));
  EXPECT_EQ(list->itemText(before).toStdString(), "Web");
  EXPECT_EQ(list->currentIndex(), 0) << "the list selects All Data again";
  EXPECT_EQ(IPFilters[size_t(before)].OutProc, &TCapturePipeline::OutputLine);

  // Edit the new filter under another name: saved under the new name.
  list->setCurrentIndex(before);
  typed = "Web2";
  child<QToolButton>("btFEdit")->click();
  EXPECT_TRUE(std::filesystem::exists(folder() + "Web2.flt"));
  EXPECT_EQ(list->itemText(before).toStdString(), "Web2");
  EXPECT_EQ(text(child<QLabel>("glbDV")), "Data View - All Data");

  // "All Data" is not edited; a cancelled editor changes nothing.
  list->setCurrentIndex(0);
  child<QToolButton>("btFEdit")->click();
  EXPECT_EQ(shown, 2);
  window.ExecFilterDialog = [](TfrmFilter &) { return false; };
  child<QToolButton>("btFilterNew")->click();
  EXPECT_EQ(IPFilterCount, before + 1);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindow, AFullFilterTableRefusesANewFilter) {
  TfrmMain &window = open();
  const int32_t saved = IPFilterCount;
  IPFilterCount = kMaxIPFilters;
  bool shown = false;
  window.ExecFilterDialog = [&shown](TfrmFilter &) { return shown = true; };
  child<QToolButton>("btFilterNew")->click();
  IPFilterCount = saved;
  EXPECT_FALSE(shown);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("at most 256 filters"), std::string::npos) << boxes_[0];
}

TEST(DocumentLines, NamesWithoutExtensionGetRtf) {
  EXPECT_EQ(WithRtfExtension("/tmp/a.b/view"), "/tmp/a.b/view.rtf");
  EXPECT_EQ(WithRtfExtension("/tmp/view.rtf"), "/tmp/view.rtf");
  EXPECT_EQ(WithRtfExtension("log.txt"), "log.txt");
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
