#pragma once

#include <QApplication>

#include <exception>
#include <functional>
#include <string>

class QWidget;

// Shows an error to the user: a message box with the caption "Error", the
// warning icon and an OK button, over `parent`.
void ShowErrorBox(QWidget *parent, const std::string &text);

// The general error display: the message on the standard error stream and in
// an "Error" box. For failures of user commands and escaped exceptions.
void ReportError(QWidget *parent, const std::string &text);

// Runs a user command; an exception it throws is reported, not passed on.
template <typename Command> void RunCommand(QWidget *parent, Command &&command) {
  try {
    command();
  } catch (const std::exception &e) {
    ReportError(parent, e.what());
  }
}

// Replaces how ShowErrorBox shows its box (tests count the boxes instead of
// waiting on a modal one); null puts the message box back.
using TErrorBoxHook = std::function<void(QWidget *parent, const std::string &text)>;
void SetErrorBoxHook(TErrorBoxHook hook);

// The application with the general error display: an exception that escapes
// an event handler is shown in an "Error" box and written to the standard
// error stream, and the program goes on.
class TVantorApplication : public QApplication {
public:
  TVantorApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};
