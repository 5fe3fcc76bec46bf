#include "ui/error_display.h"

#include <gtest/gtest.h>

// Widget tests need a QApplication; the offscreen platform lets them run
// without a display, on a developer's desktop and in CI alike.
int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The application with the general error display, as the program runs.
  TVantorApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
