#include "ui/error_display.h"

#include <QMessageBox>
#include <QWidget>

#include <cstdio>
#include <exception>

namespace {

TErrorBoxHook &errorBoxHook() {
  static TErrorBoxHook hook;
  return hook;
}

} // namespace

void ShowErrorBox(QWidget *parent, const std::string &text) {
  if (errorBoxHook()) {
    errorBoxHook()(parent, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), QString::fromStdString(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

void SetErrorBoxHook(TErrorBoxHook hook) {
  errorBoxHook() = std::move(hook);
}

void ReportError(QWidget *parent, const std::string &text) {
  std::fprintf(stderr, "Vantor: %s\n", text.c_str());
  ShowErrorBox(parent, text);
}

TVantorApplication::TVantorApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TVantorApplication::notify(QObject *receiver, QEvent *event) {
  std::string message;
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception &e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  // Outside the handler: the box runs an event loop of its own.
  ReportError(QApplication::activeWindow(), message);
  return false;
}
