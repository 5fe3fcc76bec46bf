#include "packet/text_separators.h"
#include "ui/error_display.h"
#include "ui/main_window.h"

#include <QIcon>

int main(int argc, char *argv[]) {
  TVantorApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantor"));
  QApplication::setApplicationDisplayName(QStringLiteral("Vantor"));
  QApplication::setDesktopFileName(QStringLiteral("vantor"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantor/vantor.png")));
  LoadSystemTextSeparators();
  TfrmMain window;
  window.show();
  return QApplication::exec();
}
