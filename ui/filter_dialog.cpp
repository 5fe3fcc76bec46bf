#include "ui/filter_dialog.h"

#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "packet/number_parse.h"
#include "packet/packet_info.h"
#include "packet/text_trim.h"
#include "settings/atomic_file.h"
#include "settings/file_config.h"
#include "settings/interface_texts.h"
#include "ui/captions.h"
#include "ui/error_display.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kFormWidth = 607;
constexpr int kFormHeight = 351;

constexpr uint8_t kEmptyEntry = 255;
constexpr uint8_t kEveryIcmpType = 254;

// The entries of the ICMP type list, by position. Entry 0 stands for every
// type and is not a type itself.
struct TIcmpEntry {
  int Type;
  const char *Text;
};
constexpr std::array<TIcmpEntry, 12> kIcmpEntries{{
    {-1, "-1:ANY"},
    {0, "00:ECHO_REPLY"},
    {3, "03:DEST-UNREA"},
    {4, "04:SRC_Q"},
    {5, "05:REDIR"},
    {8, "08:ECHO"},
    {11, "11:TTLX"},
    {12, "12:BADPAR"},
    {13, "13:TIME"},
    {14, "14:TIME_REPLY"},
    {15, "15:INFO"},
    {16, "16:INFO_REPLY"},
}};

// The list position of an ICMP type, or -1 when the list has no entry for it.
int icmpEntryOf(int type) {
  for (size_t i = 1; i < kIcmpEntries.size(); ++i)
    if (kIcmpEntries[i].Type == type)
      return int(i);
  return -1;
}

// The edits that remember their values, in the order of recentEdits_.
struct TRecentEdit {
  const char *Edit;
  const char *Label;
  const char *Caption;
  const char *File;
};
constexpr std::array<TRecentEdit, 4> kRecentEdits{{
    {"eSIP", "lbSIP", "Source IP", "MRU_SIP.dat"},
    {"eSPort", "lbSPort", "Source Port", "MRU_SPort.dat"},
    {"eDIP", "lbDIP", "Dest IP", "MRU_DIP.dat"},
    {"eDPort", "lbDPort", "Dest Port", "MRU_DPort.dat"},
}};

// A name becomes the file name of the filter, so nothing a file system or a
// shell pattern would read differently may appear in it.
constexpr std::string_view kNameForbidden = "\\/*?:|<>";
const char kNameMessage[] = "Name can't contain following characters or be empty:\\/*?:|<>";
const char kOtherMessage[] = "Missing Package Type";

QString fromText(const std::string &text) {
  return QString::fromStdString(text);
}

std::string toText(const QString &text) {
  return text.toStdString();
}

template <typename T> T *named(T *widget, const char *name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel *plainLabel(const char *name, const char *text, QWidget *parent) {
  auto *label = named(new QLabel(QString::fromLatin1(text), parent), name);
  // Translated captions are shown as written, never read as markup.
  label->setTextFormat(Qt::PlainText);
  return label;
}

QCheckBox *checkBox(const char *name, const char *text, QWidget *parent) {
  return named(new QCheckBox(QString::fromLatin1(text), parent), name);
}

QComboBox *recentEdit(const char *name, QWidget *parent) {
  auto *edit = named(new QComboBox(parent), name);
  edit->setEditable(true);
  // The dialog keeps the list in most-recent-first order itself.
  edit->setInsertPolicy(QComboBox::NoInsert);
  return edit;
}

int selectedRow(const QListWidget *list) {
  const QList<QListWidgetItem *> items = list->selectedItems();
  return items.isEmpty() ? -1 : list->row(items.front());
}

// "k:ProcName": the row index in the handler table and the handler's name.
QString chainEntry(int32_t row) {
  return QString::number(row) + QLatin1Char(':') + fromText(FilterProcs[size_t(row)].ProcName);
}

// The handler-table row a chain entry names, or -1.
int32_t chainRow(const QString &entry) {
  bool ok = false;
  const int row = entry.section(QLatin1Char(':'), 0, 0).toInt(&ok);
  return ok && row >= 0 && row < FilterProcCount && row < kMaxFilterProcs ? row : -1;
}

// The values of a recently-used file, most recent first. Line ends may be
// LF or CR LF; empty lines and repeated values are dropped.
std::vector<std::string> parseRecentValues(std::string_view text) {
  std::vector<std::string> values;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (!line.empty() && std::find(values.begin(), values.end(), line) == values.end())
      values.emplace_back(line);
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(end + 1);
  }
  return values;
}

// The file's content, or nothing when there is no such file. Any other
// failure is the user's to see: the list would otherwise be replaced by an
// empty one when the dialog closes.
std::optional<std::string> readFileIfPresent(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR)
      return std::nullopt;
    throw std::runtime_error("Cannot read \"" + path + "\": " + std::strerror(errno));
  }
  std::string content;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    content.append(buffer, got);
  const int code = std::ferror(file) ? errno : 0;
  std::fclose(file);
  if (code != 0)
    throw std::runtime_error("Cannot read \"" + path + "\": " + std::strerror(code));
  return content;
}

// Puts a confirmed value at the top of the edit's list, moving it there when
// it is already listed. A value holding a line break could not be stored as
// one line of the file, so it is not remembered.
void rememberValue(QComboBox *edit, const QString &value) {
  if (value.isEmpty() || value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
    return;
  for (int i = edit->count() - 1; i >= 0; --i)
    if (edit->itemText(i) == value)
      edit->removeItem(i);
  edit->insertItem(0, value);
  edit->setCurrentIndex(0);
}

std::string recentValuesText(const QComboBox *edit) {
  std::string text;
  for (int i = 0; i < edit->count(); ++i)
    text += toText(edit->itemText(i)) + "\r\n";
  return text;
}

} // namespace

TfrmFilter::TfrmFilter(const std::string &dataFolder, QWidget *owner)
    : QDialog(owner), dataFolder_(dataFolder) {
  setObjectName(QStringLiteral("frmFilter"));
  setWindowTitle(QStringLiteral("Filter"));
  setFixedSize(kFormWidth, kFormHeight);

  auto *layout = new QVBoxLayout(this);
  PageControl1_ = named(new QTabWidget(this), "PageControl1");
  auto *pgGen = named(new QWidget(PageControl1_), "pgGen");
  auto *pgCF = named(new QWidget(PageControl1_), "pgCF");
  PageControl1_->addTab(pgGen, QStringLiteral("General"));
  PageControl1_->addTab(pgCF, QStringLiteral("Custom Filters"));
  PageControl1_->setCurrentWidget(pgGen);
  layout->addWidget(PageControl1_);
  buildGeneralPage(pgGen);
  buildChainPage(pgCF);

  auto *buttons = new QHBoxLayout;
  btOK_ = named(new QPushButton(QStringLiteral("&OK"), this), "btOK");
  btCancel_ = named(new QPushButton(QStringLiteral("&Cancel"), this), "btCancel");
  btOK_->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(btOK_);
  buttons->addWidget(btCancel_);
  layout->addLayout(buttons);

  connect(btOK_, &QPushButton::clicked, this, &TfrmFilter::okClick);
  // Escape and the window's close button take the same way through reject().
  connect(btCancel_, &QPushButton::clicked, this, &QDialog::reject);

  for (int32_t row = 0; row < FilterProcCount && row < kMaxFilterProcs; ++row)
    lbFilters_->addItem(fromText(FilterProcs[size_t(row)].ProcName));
  loadRecentValues();
  updateProtocolControls();
  updateIcmpEntries();
}

void TfrmFilter::buildGeneralPage(QWidget *page) {
  auto *layout = new QVBoxLayout(page);

  auto *gpName = named(new QGroupBox(QStringLiteral("Name"), page), "gpName");
  eName_ = named(new QLineEdit(gpName), "eName");
  (new QHBoxLayout(gpName))->addWidget(eName_);
  layout->addWidget(gpName);

  auto *groups = new QHBoxLayout;
  layout->addLayout(groups);

  auto *gpPackage = named(new QGroupBox(QStringLiteral("Package Type"), page), "gpPackage");
  auto *package = new QGridLayout(gpPackage);
  chkAll_ = checkBox("chkAll", "All", gpPackage);
  chkTCP_ = checkBox("chkTCP", "TCP", gpPackage);
  chkUDP_ = checkBox("chkUDP", "UDP", gpPackage);
  chkICMP_ = checkBox("chkICMP", "ICMP", gpPackage);
  ChkOther_ = checkBox("ChkOther", "Other", gpPackage);
  eOther_ = named(new QLineEdit(gpPackage), "eOther");
  eOther_->setMaximumWidth(48);
  chkAll_->setChecked(true);
  chkBICMP_ = named(new QListWidget(gpPackage), "chkBICMP");
  for (const TIcmpEntry &entry : kIcmpEntries) {
    auto *item = new QListWidgetItem(QString::fromLatin1(entry.Text), chkBICMP_);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(entry.Type < 0 ? Qt::Checked : Qt::Unchecked);
  }
  // Wide enough for the longest entry beside its tick box and the scroll bar.
  chkBICMP_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  chkBICMP_->setMinimumWidth(
      chkBICMP_->fontMetrics().horizontalAdvance(QStringLiteral("14:TIME_REPLY")) + 56);
  // The number goes under its box: the address group needs the width.
  const std::array<QWidget *, 6> column{chkAll_, chkTCP_, chkUDP_, chkICMP_, ChkOther_, eOther_};
  for (size_t row = 0; row < column.size(); ++row)
    package->addWidget(column[row], int(row), 0);
  package->setRowStretch(int(column.size()), 1);
  package->addWidget(chkBICMP_, 0, 1, int(column.size()) + 1, 1);
  groups->addWidget(gpPackage);

  connect(chkAll_, &QCheckBox::toggled, this, &TfrmFilter::updateProtocolControls);
  connect(chkICMP_, &QCheckBox::toggled, this, &TfrmFilter::updateProtocolControls);
  connect(chkBICMP_, &QListWidget::itemChanged, this, &TfrmFilter::updateIcmpEntries);

  auto *gpIP = named(new QGroupBox(QStringLiteral("IP Source and Destication"), page), "gpIP");
  auto *addresses = new QGridLayout(gpIP);
  for (size_t i = 0; i < kRecentEdits.size(); ++i) {
    const TRecentEdit &names = kRecentEdits[i];
    QLabel *label = plainLabel(names.Label, names.Caption, gpIP);
    recentEdits_[i] = recentEdit(names.Edit, gpIP);
    label->setBuddy(recentEdits_[i]);
    addresses->addWidget(label, int(i), 0);
    addresses->addWidget(recentEdits_[i], int(i), 1);
    QComboBox *edit = recentEdits_[i];
    connect(edit->lineEdit(), &QLineEdit::returnPressed, this,
            [edit] { rememberValue(edit, edit->currentText()); });
  }
  eSIP_ = recentEdits_[0];
  eSPort_ = recentEdits_[1];
  eDIP_ = recentEdits_[2];
  eDPort_ = recentEdits_[3];
  chkReturn_ = checkBox("chkReturn", "Return packages from  Dest IP and Port", gpIP);
  chkIgZero_ = checkBox("chkIgZero", "Igron zero length package (Control Package)", gpIP);
  addresses->addWidget(chkReturn_, 4, 0, 1, 2);
  addresses->addWidget(chkIgZero_, 5, 0, 1, 2);
  groups->addWidget(gpIP, 1);
}

void TfrmFilter::buildChainPage(QWidget *page) {
  auto *gpCF = named(new QGroupBox(QStringLiteral("Custom Filters"), page), "gpCF");
  (new QVBoxLayout(page))->addWidget(gpCF);
  auto *layout = new QGridLayout(gpCF);

  lbAppFilter_ = named(new QListWidget(gpCF), "lbAppFilter");
  lbFilters_ = named(new QListWidget(gpCF), "lbFilters");
  QLabel *lbF = plainLabel("lbF", "Applied Filters", gpCF);
  QLabel *lbAF = plainLabel("lbAF", "Avaliable Filters", gpCF);
  lbF->setBuddy(lbAppFilter_);
  lbAF->setBuddy(lbFilters_);
  Memo1_ = named(new QPlainTextEdit(gpCF), "Memo1");
  Memo1_->setReadOnly(true);
  Memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1_->setMaximumHeight(60);

  auto *arrows = new QVBoxLayout;
  auto *button3 = named(new QPushButton(QStringLiteral("<"), gpCF), "Button3");
  auto *button4 = named(new QPushButton(QStringLiteral(">"), gpCF), "Button4");
  auto *button5 = named(new QPushButton(QStringLiteral(">>"), gpCF), "Button5");
  arrows->addStretch();
  for (QPushButton *button : {button3, button4, button5}) {
    button->setFixedWidth(40);
    arrows->addWidget(button);
  }
  arrows->addStretch();

  layout->addWidget(lbF, 0, 0);
  layout->addWidget(lbAF, 0, 2);
  layout->addWidget(lbAppFilter_, 1, 0, 2, 1);
  layout->addLayout(arrows, 1, 1);
  layout->addWidget(lbFilters_, 1, 2);
  layout->addWidget(Memo1_, 2, 2);

  connect(button3, &QPushButton::clicked, this, &TfrmFilter::addHandlerClick);
  connect(button4, &QPushButton::clicked, this, &TfrmFilter::removeHandlerClick);
  connect(button5, &QPushButton::clicked, lbAppFilter_, &QListWidget::clear);
  connect(lbFilters_, &QListWidget::itemSelectionChanged, this, &TfrmFilter::showDescription);
}

void TfrmFilter::LoadCaptions(TBaseConfig &lang) {
  ::LoadCaptions(lang, [this](std::string_view control, const std::string &text) {
    setCaption(control, fromText(text));
  });
}

void TfrmFilter::setCaption(std::string_view control, const QString &text) {
  QWidget *widget =
      findChild<QWidget *>(QString::fromUtf8(control.data(), qsizetype(control.size())));
  if (widget == nullptr)
    return;
  if (const int page = PageControl1_->indexOf(widget); page >= 0)
    PageControl1_->setTabText(page, text);
  else
    SetControlCaption(widget, text);
}

void TfrmFilter::SetNewFilter() {
  lbAppFilter_->clear();
  if (FilterProcCount > 0)
    lbAppFilter_->addItem(chainEntry(0));
}

// ------------------------------------------------------------ protocol boxes

void TfrmFilter::updateProtocolControls() {
  // "All" overrides the list, so the list's boxes are greyed while it is
  // ticked; eOther stays open so a number can be typed ahead.
  const bool listed = !chkAll_->isChecked();
  for (QCheckBox *box : {chkTCP_, chkUDP_, chkICMP_, ChkOther_})
    box->setEnabled(listed);
  chkBICMP_->setEnabled(listed && chkICMP_->isChecked());
}

void TfrmFilter::updateIcmpEntries() {
  const bool byType = chkBICMP_->item(0)->checkState() != Qt::Checked;
  for (int i = 1; i < chkBICMP_->count(); ++i) {
    QListWidgetItem *item = chkBICMP_->item(i);
    const Qt::ItemFlags flags = byType ? item->flags() | Qt::ItemIsEnabled
                                       : item->flags() & ~Qt::ItemFlags(Qt::ItemIsEnabled);
    // Setting flags reports a change of the item, which calls us again.
    if (flags != item->flags())
      item->setFlags(flags);
  }
}

void TfrmFilter::resetProtocols() {
  for (QCheckBox *box : {chkTCP_, chkUDP_, chkICMP_, ChkOther_})
    box->setChecked(false);
  eOther_->clear();
  for (int i = 0; i < chkBICMP_->count(); ++i)
    chkBICMP_->item(i)->setCheckState(i == 0 ? Qt::Checked : Qt::Unchecked);
}

void TfrmFilter::showIcmpTypes(const TIPFilter &filter) {
  chkBICMP_->item(0)->setCheckState(filter.IcmpTypes[0] == kEveryIcmpType ? Qt::Checked
                                                                          : Qt::Unchecked);
  for (uint8_t type : filter.IcmpTypes)
    if (const int entry = icmpEntryOf(type); entry > 0)
      chkBICMP_->item(entry)->setCheckState(Qt::Checked);
  updateIcmpEntries();
}

void TfrmFilter::ShowFilter(const TIPFilter &filter) {
  eName_->setText(fromText(filter.Name));
  // A dialog shown twice must not keep the first filter's ticks.
  resetProtocols();
  chkAll_->setChecked(filter.AllProto == -1);
  for (uint8_t proto : filter.Protos) {
    switch (proto) {
    case kProtoIcmp:
      chkICMP_->setChecked(true);
      showIcmpTypes(filter);
      break;
    case kProtoTcp:
      chkTCP_->setChecked(true);
      break;
    case kProtoUdp:
      chkUDP_->setChecked(true);
      break;
    case kEmptyEntry:
      break;
    default:
      ChkOther_->setChecked(true);
      eOther_->setText(QString::number(proto));
      break;
    }
  }
  updateProtocolControls();

  eSIP_->setEditText(fromText(filter.SIP));
  eDIP_->setEditText(fromText(filter.DIP));
  eSPort_->setEditText(QString::number(filter.SPort));
  eDPort_->setEditText(QString::number(filter.DPort));
  chkReturn_->setChecked(filter.ReturnPkg == 1);
  chkIgZero_->setChecked(filter.IgZero == 1);

  // Handlers are named by module and procedure, not by row: a plug-in that
  // is gone, or loaded in another order, must not shift the chain.
  lbAppFilter_->clear();
  const int32_t count = std::clamp(filter.ProcCount, 0, kMaxProcsPerFilter);
  for (int32_t i = 0; i < count; ++i) {
    const TCustFilters &row = filter.Procs[size_t(i)];
    int32_t index = -1;
    FindFilterProc(row.DLLName, row.ProcName, index);
    if (index >= 0)
      lbAppFilter_->addItem(chainEntry(index));
  }
}

// ------------------------------------------------------------ handler chain

void TfrmFilter::addHandlerClick() {
  const int row = selectedRow(lbFilters_);
  if (row < 0 || row >= FilterProcCount)
    return;
  if (lbAppFilter_->count() >= kMaxProcsPerFilter) {
    ShowErrorBox(this,
                 "A filter holds at most " + std::to_string(kMaxProcsPerFilter) + " handlers");
    return;
  }
  lbAppFilter_->addItem(chainEntry(row));
}

void TfrmFilter::removeHandlerClick() {
  const int row = selectedRow(lbAppFilter_);
  if (row >= 0)
    delete lbAppFilter_->takeItem(row);
}

void TfrmFilter::showDescription() {
  Memo1_->clear();
  const int row = selectedRow(lbFilters_);
  if (row < 0 || row >= FilterProcCount)
    return;
  const TCustFilters &proc = FilterProcs[size_t(row)];
  Memo1_->setPlainText(fromText(proc.Desc + "(" + proc.DLLName + ":" + proc.ProcName + ") "));
}

// ------------------------------------------------------------ closing

void TfrmFilter::okClick() {
  const std::string name = toText(eName_->text());
  if (name.find_first_of(kNameForbidden) != std::string::npos || TrimControl(name).empty()) {
    refuse(eName_, kNameMessage);
    return;
  }
  // Checked even while "All" greys the box out: the number would otherwise
  // surface as a failure only once the filter is stored.
  if (ChkOther_->isChecked() && !StrictInteger(toText(eOther_->text()))) {
    refuse(eOther_, kOtherMessage);
    return;
  }
  accepted_ = true;
  accept();
}

void TfrmFilter::refuse(QWidget *field, const std::string &message) {
  ShowErrorBox(this, message);
  field->setFocus();
}

void TfrmFilter::done(int result) {
  if (result != QDialog::Accepted)
    accepted_ = false;
  saveRecentValues();
  QDialog::done(result);
}

void TfrmFilter::loadRecentValues() {
  for (size_t i = 0; i < kRecentEdits.size(); ++i) {
    const std::optional<std::string> text = readFileIfPresent(dataFolder_ + kRecentEdits[i].File);
    if (!text)
      continue;
    QComboBox *edit = recentEdits_[i];
    for (const std::string &value : parseRecentValues(*text))
      edit->addItem(fromText(value));
    // Filling the list selects its first value; the edit itself starts empty.
    edit->setCurrentIndex(-1);
    edit->setEditText(QString());
  }
}

void TfrmFilter::saveRecentValues() {
  std::string failures;
  for (size_t i = 0; i < kRecentEdits.size(); ++i) {
    QComboBox *edit = recentEdits_[i];
    // OK confirms what the edits hold; a cancelled dialog confirms nothing
    // more than Enter did. Port 0 means any port: nothing to recall.
    const bool isPort = i == 1 || i == 3;
    if (accepted_ && !(isPort && edit->currentText().trimmed() == "0"))
      rememberValue(edit, edit->currentText());
    const std::string path = dataFolder_ + kRecentEdits[i].File;
    std::string error;
    if (!WriteFileAtomically(path, recentValuesText(edit), error))
      failures += "\nCannot save \"" + path + "\": " + error;
  }
  // One box for all four files: a read-only folder fails them together.
  if (!failures.empty())
    ShowErrorBox(this, "The recently used values were not saved." + failures);
}

// ------------------------------------------------------------ reading back

void TfrmFilter::StoreFilter(TIPFilter &filter) {
  // Built aside and assigned at the end, so a failure leaves the filter as it was.
  TIPFilter result = filter;
  result.Name = toText(eName_->text());
  result.Protos.fill(kEmptyEntry);
  result.IcmpTypes.fill(kEmptyEntry);
  if (chkAll_->isChecked()) {
    result.AllProto = -1;
  } else {
    result.AllProto = 0;
    size_t next = 0;
    if (chkTCP_->isChecked())
      result.Protos[next++] = kProtoTcp;
    if (chkUDP_->isChecked())
      result.Protos[next++] = kProtoUdp;
    if (chkICMP_->isChecked())
      result.Protos[next++] = kProtoIcmp;
    if (ChkOther_->isChecked()) {
      const std::string other = toText(eOther_->text());
      const std::optional<int32_t> number = StrictInteger(other);
      if (!number)
        throw std::invalid_argument("'" + other + "' is not a valid integer value");
      result.Protos[next++] = uint8_t(*number);
    }
    if (chkICMP_->isChecked()) {
      if (chkBICMP_->item(0)->checkState() == Qt::Checked) {
        result.IcmpTypes[0] = kEveryIcmpType;
      } else {
        size_t type = 0;
        for (int i = 1; i < chkBICMP_->count(); ++i)
          if (chkBICMP_->item(i)->checkState() == Qt::Checked)
            result.IcmpTypes[type++] = uint8_t(kIcmpEntries[size_t(i)].Type);
      }
    }
  }
  result.IgZero = chkIgZero_->isChecked() ? 1 : 0;
  result.SIP = toText(eSIP_->currentText());
  result.DIP = toText(eDIP_->currentText());
  result.SPort = StrictInteger(toText(eSPort_->currentText())).value_or(0);
  result.DPort = StrictInteger(toText(eDPort_->currentText())).value_or(0);
  result.ReturnPkg = chkReturn_->isChecked() ? 1 : 0;

  int32_t count = 0;
  for (int i = 0; i < lbAppFilter_->count() && count < kMaxProcsPerFilter; ++i)
    if (const int32_t row = chainRow(lbAppFilter_->item(i)->text()); row >= 0)
      result.Procs[size_t(count++)] = FilterProcs[size_t(row)];
  result.ProcCount = count;
  // A handler removed here must stop running at once, not at the next start.
  std::fill(result.Procs.begin() + count, result.Procs.end(), TCustFilters{});

  filter = std::move(result);
}
