#pragma once

#include <QApplication>

#include <functional>
#include <string>

class QWidget;

// Shows an error to the user: a message box with the caption "Error", the
// warning icon and an OK button, over `parent`.
void ShowErrorBox(QWidget *parent, const std::string &text);

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
