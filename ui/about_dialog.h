#pragma once

#include "ui/product_info.h"

#include <QDialog>

#include <functional>
#include <string>

class QEvent;
class QLabel;
class QPushButton;
class QUrl;

// Opens a link in the user's browser or mail program. The result is not
// looked at: with no such program nothing happens, which is all the user
// would see anyway.
void OpenLink(const QUrl &url);
// Replaces how OpenLink opens a link (tests record the address instead of
// starting a browser); null puts the desktop's handler back.
using TOpenLinkHook = std::function<void(const QUrl &url)>;
void SetOpenLinkHook(TOpenLinkHook hook);

// "Version : 1.0.0 Build 50" for the file version 1.0.0.50.
std::string AboutVersionLine(const TFileVersion &version);

// The About dialog: the program's title, icon and version, with links to the
// maker's web site, donation page and e-mail address. It lives only while it
// is shown.
class TfrmAbout : public QDialog {
  Q_OBJECT
public:
  explicit TfrmAbout(QWidget *parent = nullptr);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildControls();
  void FormCreate();
  void linkMouseEnter(QLabel *label);
  void linkMouseLeave(QLabel *label);

  QPushButton *Button1_ = nullptr;
  QLabel *Image1_ = nullptr;
  QLabel *Label1_ = nullptr;
  QLabel *Label2_ = nullptr;
  QLabel *Label5_ = nullptr;
  QLabel *Label6_ = nullptr;
  QLabel *Image2_ = nullptr;
  QLabel *Label3_ = nullptr;
  QLabel *Label4_ = nullptr;
};
