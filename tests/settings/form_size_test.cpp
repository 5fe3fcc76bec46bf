#include "ui/form_size.h"

#include "settings/form_placement.h"
#include "tests/support/file_helpers.h"
#include "tests/support/temp_folder.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

QRect virtualScreen() {
  return QGuiApplication::primaryScreen()->virtualGeometry();
}

// The message of the EFormSizeError that `make` throws, or "" when it throws
// none.
template <typename Make> std::string errorOf(Make make) {
  try {
    make();
  } catch (const EFormSizeError &error) {
    return error.what();
  }
  return "";
}

class FormSize : public ::testing::Test {
protected:
  // A main window as designed: its name and bounds, with a TFormSize that
  // points at the test's file.
  std::unique_ptr<QWidget> makeWindow(const QRect &designed) {
    auto window = std::make_unique<QWidget>();
    window->setObjectName("frmMain");
    window->setGeometry(designed);
    formSize_ = new TFormSize(window.get());
    formSize_->SetSaveName(path_);
    return window;
  }
  static void settle() { QApplication::processEvents(); }
  std::string fileText() const { return ReadWholeFile(path_); }
  void writeFile(const std::string &text) const { std::ofstream(path_) << text; }

  TempFolder temp_{"formsize"};
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/VantorForm.INI";
  TFormSize *formSize_ = nullptr;
};

TEST_F(FormSize, OwnerMustBeASingleTopLevelWindow) {
  QWidget form;
  QWidget child(&form);
  EXPECT_EQ(errorOf([&] { TFormSize onChild(&child); }), "Control parent must be a form!");
  EXPECT_EQ(errorOf([] { TFormSize noOwner(nullptr); }), "Control parent must be a form!");

  auto *first = new TFormSize(&form);
  EXPECT_EQ(first->parent(), &form);
  EXPECT_EQ(errorOf([&] { TFormSize second(&form); }),
            "The form already contains a TFormSize component");
  EXPECT_EQ(form.findChildren<TFormSize *>().size(), 1);
}

TEST_F(FormSize, DefaultsAndVersion) {
  QWidget form;
  form.setObjectName("frmFilter");
  TFormSize size(&form);
  EXPECT_FALSE(size.DragAlways());
  EXPECT_FALSE(size.Magnet());
  EXPECT_EQ(size.MagnetDistance(), 32);
  EXPECT_TRUE(size.SavePosition());
  EXPECT_TRUE(size.SaveSize());
  EXPECT_FALSE(size.SaveUser());
  EXPECT_FALSE(size.SaveMachine());
  EXPECT_EQ(size.SaveName(), "./FORM.INI");
  EXPECT_EQ(size.SaveKey(), "frmFilter");
  EXPECT_EQ(size.SectionName(), "frmFilter");

  EXPECT_EQ(size.VersionNumber(), 0x01010002u);
  EXPECT_EQ(size.Version(), "1.1.0.2");
  size.SetVersion("9.9.9.9");
  EXPECT_EQ(size.Version(), "1.1.0.2");
}

TEST_F(FormSize, FirstStartKeepsTheDesignedBoundsAndWritesThemAtClose) {
  auto window = makeWindow({100, 120, 300, 200});
  formSize_->RestorePlacement();
  EXPECT_EQ(window->geometry(), QRect(100, 120, 300, 200));
  window->show();
  settle();
  EXPECT_FALSE(std::filesystem::exists(path_));

  window->close();
  EXPECT_EQ(fileText(), "[frmMain]\nLeft=100\nTop=120\nRight=400\nBottom=320\nMaximized=0\n");
}

TEST_F(FormSize, PositionAndSizeSurviveARestart) {
  {
    auto window = makeWindow({100, 120, 300, 200});
    window->show();
    window->setGeometry(70, 80, 330, 250);
    settle();
    window->close();
  }
  auto window = makeWindow({10, 10, 200, 150});
  formSize_->RestorePlacement();
  window->show();
  settle();
  EXPECT_EQ(window->geometry(), QRect(70, 80, 330, 250));
  EXPECT_FALSE(window->isMaximized());
}

TEST_F(FormSize, WithoutSaveSizeOnlyTheCornerMoves) {
  writeFile("[frmMain]\nLeft=70\nTop=80\nRight=400\nBottom=330\nMaximized=0\n");
  auto window = makeWindow({10, 10, 200, 150});
  formSize_->SetSaveSize(false);
  formSize_->RestorePlacement();
  EXPECT_EQ(window->geometry(), QRect(70, 80, 200, 150));
}

TEST_F(FormSize, PlacementBeyondTheRightEdgeIsPulledBack) {
  const QRect screen = virtualScreen();
  const int width = screen.width();
  writeFile("[frmMain]\nLeft=" + std::to_string(width - 100) +
            "\nTop=-40\nRight=" + std::to_string(width + 200) + "\nBottom=160\n");
  auto window = makeWindow({10, 10, 200, 150});
  formSize_->RestorePlacement();
  // The top edge is applied as stored; only right and bottom are corrected.
  EXPECT_EQ(window->geometry(), QRect(width - 300, -40, 300, 200));
}

TEST_F(FormSize, MaximizedWindowKeepsItsNormalRectangle) {
  {
    auto window = makeWindow({40, 50, 300, 200});
    window->show();
    window->showMaximized();
    settle();
    ASSERT_TRUE(window->isMaximized());
    ASSERT_NE(window->geometry(), QRect(40, 50, 300, 200)) << "the platform did not maximize";
    window->close();
  }
  EXPECT_EQ(fileText(), "[frmMain]\nLeft=40\nTop=50\nRight=340\nBottom=250\nMaximized=1\n");

  auto window = makeWindow({10, 10, 200, 150});
  formSize_->RestorePlacement();
  window->show();
  settle();
  EXPECT_TRUE(window->isMaximized());
  const QRect screen = virtualScreen();
  EXPECT_EQ(window->normalGeometry(), QRect(0, 0, screen.width(), screen.height()));
}

TEST_F(FormSize, WindowDeletedWithoutClosingStillSaves) {
  auto window = makeWindow({100, 120, 300, 200});
  window->show();
  window->setGeometry(30, 40, 250, 150);
  settle();
  window.reset();
  EXPECT_EQ(fileText(), "[frmMain]\nLeft=30\nTop=40\nRight=280\nBottom=190\nMaximized=0\n");
}

TEST_F(FormSize, NothingIsSavedWithoutSavePositionOrName) {
  {
    auto window = makeWindow({100, 120, 300, 200});
    formSize_->SetSavePosition(false);
    window->show();
    window->close();
  }
  EXPECT_FALSE(std::filesystem::exists(path_));
  {
    auto window = makeWindow({100, 120, 300, 200});
    formSize_->SetSaveKey("");
    window->show();
    window->close();
  }
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(FormSize, SectionCarriesUserAndMachineWhenAsked) {
  auto window = makeWindow({100, 120, 300, 200});
  formSize_->SetSaveUser(true);
  formSize_->SetSaveMachine(true);
  const std::string section = "frmMain-" + LogonUserName() + "-" + ComputerName();
  EXPECT_EQ(formSize_->SectionName(), section);
  formSize_->SavePlacement();
  EXPECT_EQ(LoadPlacement(path_, section).Left, 100);
  EXPECT_FALSE(LoadPlacement(path_, "frmMain").Left);
}

TEST_F(FormSize, RestoreBoundsAppliesEverythingOnceAndPutsTheSwitchesBack) {
  writeFile("[frmMain]\nLeft=70\nTop=80\nRight=400\nBottom=330\n");
  auto window = makeWindow({10, 10, 200, 150});
  formSize_->SetSavePosition(false);
  formSize_->SetSaveSize(false);
  formSize_->RestorePlacement();
  EXPECT_EQ(window->geometry(), QRect(10, 10, 200, 150));

  formSize_->RestoreBounds();
  EXPECT_EQ(window->geometry(), QRect(70, 80, 330, 250));
  EXPECT_FALSE(formSize_->SavePosition());
  EXPECT_FALSE(formSize_->SaveSize());
}

TEST_F(FormSize, MagnetSnapsTheMovingWindowToTheWorkArea) {
  auto window = makeWindow({100, 120, 300, 200});
  window->show();
  settle();
  const QRect area = window->screen()->availableGeometry();
  const int frameHeight = window->frameGeometry().height();

  window->move(area.left() + 25, area.top() + 300);
  EXPECT_EQ(window->pos(), QPoint(area.left() + 25, area.top() + 300)) << "Magnet is off";

  formSize_->SetMagnet(true);
  window->move(area.left() + 20, area.top() + 300);
  EXPECT_EQ(window->pos(), QPoint(area.left(), area.top() + 300));
  const int nearBottom = area.top() + area.height() - frameHeight - 10;
  window->move(area.left() + 200, nearBottom);
  EXPECT_EQ(window->pos(), QPoint(area.left() + 200, nearBottom + 10));
  window->move(area.left() + 200, area.top() + 300);
  EXPECT_EQ(window->pos(), QPoint(area.left() + 200, area.top() + 300));
}

TEST_F(FormSize, DragAlwaysMovesTheWindowWithAPressInTheClientArea) {
  auto window = makeWindow({100, 120, 300, 200});
  window->show();
  settle();
  const auto drag = [&](QPoint delta) {
    const QPoint local(50, 40);
    const QPoint global = window->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(window.get(), &press);
    QMouseEvent move(QEvent::MouseMove, local + delta, global + delta, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(window.get(), &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + delta, global + delta, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &release);
    settle();
  };
  const QPoint start = window->pos();
  drag({30, 20});
  EXPECT_EQ(window->pos(), start) << "DragAlways is off";

  formSize_->SetDragAlways(true);
  drag({30, 20});
  EXPECT_EQ(window->pos(), start + QPoint(30, 20));
}

} // namespace

int main(int argc, char **argv) {
  // Geometry must be honoured exactly and no display may be needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
