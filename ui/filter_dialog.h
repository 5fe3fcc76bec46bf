#pragma once

#include <QDialog>

#include <array>
#include <string>
#include <string_view>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TBaseConfig;
struct TIPFilter;

// The modal editor of one filter: its name, protocols and ICMP types,
// addresses and ports, the two switches and the handler chain. It only edits
// its controls; the caller reads them back with StoreFilter once the user
// accepted. The four address and port edits remember the values confirmed in
// them across runs, one "MRU_*.dat" file each in the settings folder.
class TfrmFilter : public QDialog {
  Q_OBJECT

public:
  // dataFolder: the settings folder, ending in "/": where the four MRU_*.dat files live.
  // Throws std::runtime_error when one of those files exists but cannot be read.
  TfrmFilter(const std::string &dataFolder, QWidget *owner = nullptr);

  // Sets the translatable captions from the language store.
  void LoadCaptions(TBaseConfig &lang);
  // Starts the chain of a new filter with the first registered handler.
  void SetNewFilter();
  // Fills the controls from `filter`; chain rows naming no registered handler are left out.
  void ShowFilter(const TIPFilter &filter);
  // Writes the controls' values into `filter`, keeping its output callback and
  // remembered return pairs. Throws std::invalid_argument, with `filter`
  // untouched, when "Other" is ticked over a text that is not an integer.
  void StoreFilter(TIPFilter &filter); // never leaves a half-written filter
  // True only when the dialog was closed with OK.
  bool Accepted() const { return accepted_; }

  // Every way of closing ends here: saves the recently-used lists.
  void done(int result) override;

private:
  void buildGeneralPage(QWidget *page);
  void buildChainPage(QWidget *page);
  void setCaption(std::string_view control, const QString &text);

  void updateProtocolControls();
  void updateIcmpEntries();
  void resetProtocols();
  void showIcmpTypes(const TIPFilter &filter);

  void addHandlerClick();
  void removeHandlerClick();
  void showDescription();
  void okClick();
  void refuse(QWidget *field, const std::string &message);

  void loadRecentValues();
  void saveRecentValues();

  std::string dataFolder_;
  bool accepted_ = false;

  QTabWidget *PageControl1_ = nullptr;
  QLineEdit *eName_ = nullptr;
  QCheckBox *chkTCP_ = nullptr;
  QCheckBox *chkUDP_ = nullptr;
  QCheckBox *chkICMP_ = nullptr;
  QListWidget *chkBICMP_ = nullptr;
  QCheckBox *ChkOther_ = nullptr;
  QLineEdit *eOther_ = nullptr;
  QCheckBox *chkAll_ = nullptr;
  QComboBox *eSIP_ = nullptr;
  QComboBox *eSPort_ = nullptr;
  QComboBox *eDIP_ = nullptr;
  QComboBox *eDPort_ = nullptr;
  // The four edits above, in the order of their files.
  std::array<QComboBox *, 4> recentEdits_{};
  QCheckBox *chkReturn_ = nullptr;
  QCheckBox *chkIgZero_ = nullptr;
  QListWidget *lbAppFilter_ = nullptr;
  QListWidget *lbFilters_ = nullptr;
  QPlainTextEdit *Memo1_ = nullptr;
  QPushButton *btOK_ = nullptr;
  QPushButton *btCancel_ = nullptr;
};
