// The filter editor under the offscreen platform, driven the way a user
// would: widget state set, buttons clicked, the dialog closed by OK, Cancel,
// Escape or its window, then read back with StoreFilter.
#include "ui/filter_dialog.h"

#include "filters/builtin_handlers.h"
#include "filters/handler_table.h"
#include "filters/ip_filter.h"
#include "settings/file_config.h"
#include "settings/interface_texts.h"
#include "tests/support/file_helpers.h"
#include "tests/support/temp_folder.h"
#include "ui/error_display.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int gCountedCalls = 0;

extern "C" int32_t countCalls(const void *, int32_t, TOutputProc) {
  ++gCountedCalls;
  return 0;
}

extern "C" void ignoreOutput(const char *) {}

// Row 3 of the handler table, after the three built-in rows.
constexpr int kCountRow = 3;
const TCustFilters kCountHandler{countCalls, "LTTest.so", "TST_Count", "Counts calls"};

template <typename T> T *child(QObject &parent, const char *name) {
  T *found = parent.findChild<T *>(QString::fromLatin1(name));
  if (found == nullptr)
    throw std::runtime_error(std::string("no control ") + name + " of the expected kind");
  return found;
}

// The dialog and its controls by their object names.
struct Form {
  explicit Form(const std::string &dataFolder)
      : dialog(std::make_unique<TfrmFilter>(dataFolder)), eName(child<QLineEdit>(*dialog, "eName")),
        eOther(child<QLineEdit>(*dialog, "eOther")), chkAll(child<QCheckBox>(*dialog, "chkAll")),
        chkTCP(child<QCheckBox>(*dialog, "chkTCP")), chkUDP(child<QCheckBox>(*dialog, "chkUDP")),
        chkICMP(child<QCheckBox>(*dialog, "chkICMP")),
        ChkOther(child<QCheckBox>(*dialog, "ChkOther")),
        chkReturn(child<QCheckBox>(*dialog, "chkReturn")),
        chkIgZero(child<QCheckBox>(*dialog, "chkIgZero")),
        chkBICMP(child<QListWidget>(*dialog, "chkBICMP")),
        lbAppFilter(child<QListWidget>(*dialog, "lbAppFilter")),
        lbFilters(child<QListWidget>(*dialog, "lbFilters")),
        eSIP(child<QComboBox>(*dialog, "eSIP")), eSPort(child<QComboBox>(*dialog, "eSPort")),
        eDIP(child<QComboBox>(*dialog, "eDIP")), eDPort(child<QComboBox>(*dialog, "eDPort")),
        Memo1(child<QPlainTextEdit>(*dialog, "Memo1")), btOK(child<QPushButton>(*dialog, "btOK")),
        btCancel(child<QPushButton>(*dialog, "btCancel")),
        Button3(child<QPushButton>(*dialog, "Button3")),
        Button4(child<QPushButton>(*dialog, "Button4")),
        Button5(child<QPushButton>(*dialog, "Button5")) {}

  // A click changes nothing on a disabled box, as for the user.
  static void setTicked(QCheckBox *box, bool ticked) {
    if (box->isChecked() != ticked)
      box->click();
  }
  void setIcmpEntry(int entry, bool ticked) {
    chkBICMP->item(entry)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }
  bool icmpEntryTicked(int entry) const {
    return chkBICMP->item(entry)->checkState() == Qt::Checked;
  }
  bool icmpEntryEnabled(int entry) const {
    return chkBICMP->item(entry)->flags().testFlag(Qt::ItemIsEnabled);
  }
  std::vector<std::string> chain() const {
    std::vector<std::string> entries;
    for (int i = 0; i < lbAppFilter->count(); ++i)
      entries.push_back(lbAppFilter->item(i)->text().toStdString());
    return entries;
  }
  std::vector<std::string> recentValues(QComboBox *edit) const {
    std::vector<std::string> values;
    for (int i = 0; i < edit->count(); ++i)
      values.push_back(edit->itemText(i).toStdString());
    return values;
  }
  TIPFilter stored() {
    TIPFilter filter;
    dialog->StoreFilter(filter);
    return filter;
  }

  std::unique_ptr<TfrmFilter> dialog;
  QLineEdit *eName, *eOther;
  QCheckBox *chkAll, *chkTCP, *chkUDP, *chkICMP, *ChkOther, *chkReturn, *chkIgZero;
  QListWidget *chkBICMP, *lbAppFilter, *lbFilters;
  QComboBox *eSIP, *eSPort, *eDIP, *eDPort;
  QPlainTextEdit *Memo1;
  QPushButton *btOK, *btCancel, *Button3, *Button4, *Button5;
};

// 8 or 32 entries: `prefix`, then 255 (empty).
template <size_t N> std::array<uint8_t, N> padded(std::vector<uint8_t> prefix) {
  std::array<uint8_t, N> entries;
  entries.fill(255);
  std::copy(prefix.begin(), prefix.end(), entries.begin());
  return entries;
}

TCustFilters handlerRow(int row) {
  return FilterProcs[size_t(row)];
}

void expectSameRow(const TCustFilters &actual, const TCustFilters &expected, size_t index) {
  EXPECT_EQ(actual.Proc, expected.Proc) << "row " << index;
  EXPECT_EQ(actual.DLLName, expected.DLLName) << "row " << index;
  EXPECT_EQ(actual.ProcName, expected.ProcName) << "row " << index;
  EXPECT_EQ(actual.Desc, expected.Desc) << "row " << index;
}

// Rows 0 to rows.size() - 1 as given, every later row empty.
void expectChain(const TIPFilter &filter, const std::vector<TCustFilters> &rows) {
  EXPECT_EQ(filter.ProcCount, int32_t(rows.size()));
  for (size_t i = 0; i < filter.Procs.size(); ++i)
    expectSameRow(filter.Procs[i], i < rows.size() ? rows[i] : TCustFilters{}, i);
}

class FilterDialog : public ::testing::Test {
protected:
  void SetUp() override {
    ClearFilterProcs();
    RegisterBuiltinHandlers();
    ASSERT_TRUE(AddFilterProc(kCountHandler));
    ASSERT_EQ(FilterProcCount, kCountRow + 1);
    gCountedCalls = 0;
    SetErrorBoxHook([this](QWidget *, const std::string &text) { boxes_.push_back(text); });
  }
  void TearDown() override { SetErrorBoxHook(nullptr); }

  std::string folder() const { return folder_.path() + "/"; }
  std::string recentFile(const char *name) const { return ReadWholeFile(folder() + name); }

  TempFolder folder_{"filter-dialog"};
  std::vector<std::string> boxes_;
};

// ------------------------------------------------------------------ the form

TEST_F(FilterDialog, StartsWithEveryProtocolAndTheHandlerList) {
  Form form(folder());
  EXPECT_EQ(form.dialog->objectName().toStdString(), "frmFilter");
  EXPECT_EQ(form.dialog->windowTitle().toStdString(), "Filter");
  EXPECT_EQ(form.dialog->size(), QSize(607, 351));
  EXPECT_EQ(form.dialog->minimumSize(), form.dialog->maximumSize()) << "fixed border";
  EXPECT_EQ(child<QTabWidget>(*form.dialog, "PageControl1")->currentWidget()->objectName(),
            "pgGen");
  EXPECT_FALSE(form.dialog->Accepted());
  EXPECT_TRUE(form.btOK->isDefault());
  EXPECT_TRUE(form.Memo1->isReadOnly());

  EXPECT_TRUE(form.chkAll->isChecked());
  for (QCheckBox *box : {form.chkTCP, form.chkUDP, form.chkICMP, form.ChkOther}) {
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
  }
  EXPECT_TRUE(form.eOther->isEnabled());
  EXPECT_FALSE(form.chkBICMP->isEnabled());

  const std::vector<std::string> icmpTexts{
      "-1:ANY",  "00:ECHO_REPLY", "03:DEST-UNREA", "04:SRC_Q",      "05:REDIR", "08:ECHO",
      "11:TTLX", "12:BADPAR",     "13:TIME",       "14:TIME_REPLY", "15:INFO",  "16:INFO_REPLY"};
  ASSERT_EQ(form.chkBICMP->count(), 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(form.chkBICMP->item(i)->text().toStdString(), icmpTexts[size_t(i)]);
    EXPECT_EQ(form.icmpEntryTicked(i), i == 0) << i;
    EXPECT_EQ(form.icmpEntryEnabled(i), i == 0) << i;
    EXPECT_TRUE(form.chkBICMP->item(i)->flags().testFlag(Qt::ItemIsUserCheckable)) << i;
  }

  ASSERT_EQ(form.lbFilters->count(), 4);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(form.lbFilters->item(i)->text().toStdString(), FilterProcs[size_t(i)].ProcName);
  EXPECT_EQ(form.lbAppFilter->count(), 0);
  EXPECT_EQ(form.eSIP->currentText(), "");
}

// Each step clicks like the user and then checks every control the rules
// govern. Entry 0 of the ICMP list is "-1:ANY".
TEST_F(FilterDialog, CheckBoxRulesFollowEachClick) {
  Form form(folder());
  struct Step {
    const char *what;
    std::function<void()> act;
    bool boxesEnabled;
    bool icmpListEnabled;
    bool typesEnabled; // entries 1 to 11
  };
  const std::vector<Step> steps{
      {"All cleared", [&] { form.chkAll->click(); }, true, false, false},
      {"ICMP ticked", [&] { form.chkICMP->click(); }, true, true, false},
      {"ANY cleared", [&] { form.setIcmpEntry(0, false); }, true, true, true},
      {"ANY ticked", [&] { form.setIcmpEntry(0, true); }, true, true, false},
      {"ANY cleared again", [&] { form.setIcmpEntry(0, false); }, true, true, true},
      {"a type ticked", [&] { form.setIcmpEntry(5, true); }, true, true, true},
      {"All ticked", [&] { form.chkAll->click(); }, false, false, true},
      {"All cleared with ICMP ticked", [&] { form.chkAll->click(); }, true, true, true},
      {"ICMP cleared", [&] { form.chkICMP->click(); }, true, false, true},
  };
  for (const Step &step : steps) {
    step.act();
    for (QCheckBox *box : {form.chkTCP, form.chkUDP, form.chkICMP, form.ChkOther})
      EXPECT_EQ(box->isEnabled(), step.boxesEnabled)
          << step.what << ": " << box->objectName().toStdString();
    EXPECT_TRUE(form.eOther->isEnabled()) << step.what;
    EXPECT_EQ(form.chkBICMP->isEnabled(), step.icmpListEnabled) << step.what;
    EXPECT_TRUE(form.icmpEntryEnabled(0)) << step.what;
    for (int i = 1; i < 12; ++i) {
      EXPECT_EQ(form.icmpEntryEnabled(i), step.typesEnabled) << step.what << ": entry " << i;
      EXPECT_TRUE(form.chkBICMP->item(i)->flags().testFlag(Qt::ItemIsUserCheckable));
    }
  }
  EXPECT_TRUE(form.icmpEntryTicked(5)) << "disabling an entry keeps its tick";
}

TEST_F(FilterDialog, LoadCaptionsSetsTheSixteenTranslatableCaptions) {
  const auto captionOf = [](TfrmFilter &dialog, std::string_view control) -> std::string {
    QWidget *widget = child<QWidget>(dialog, std::string(control).c_str());
    auto *pages = child<QTabWidget>(dialog, "PageControl1");
    if (const int page = pages->indexOf(widget); page >= 0)
      return pages->tabText(page).toStdString();
    if (auto *group = qobject_cast<QGroupBox *>(widget))
      return group->title().toStdString();
    if (auto *label = qobject_cast<QLabel *>(widget))
      return label->text().toStdString();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
      return button->text().toStdString();
    return "(no caption)";
  };

  // One translated key: it is shown, the other fifteen show their defaults
  // and are recorded in the store for the translator.
  {
    Form form(folder());
    EXPECT_EQ(captionOf(*form.dialog, "lbF"), "Applied Filters") << "the form's own text";
    TFileConfig lang;
    lang.LoadFromText("fmFilter_gpIP_Caption=Adressen\r\n");
    form.dialog->LoadCaptions(lang);
    for (const TTextKey &text : FilterDialogTexts)
      EXPECT_EQ(captionOf(*form.dialog, text.Control),
                text.Key == "fmFilter_gpIP_Caption" ? "Adressen" : std::string(text.Default))
          << text.Key;
    EXPECT_EQ(lang.Keys.size(), FilterDialogTexts.size());
    EXPECT_EQ(form.dialog->windowTitle().toStdString(), "Filter");
    EXPECT_EQ(form.chkTCP->text().toStdString(), "TCP");
    EXPECT_EQ(form.Button5->text().toStdString(), ">>");
  }
  // Every key translated: each control kind (tab, group, label, check box,
  // button) takes its text.
  {
    Form form(folder());
    std::string file;
    for (const TTextKey &text : FilterDialogTexts)
      file += std::string(text.Key) + "=T " + std::string(text.Control) + "\r\n";
    TFileConfig lang;
    lang.LoadFromText(file);
    form.dialog->LoadCaptions(lang);
    for (const TTextKey &text : FilterDialogTexts)
      EXPECT_EQ(captionOf(*form.dialog, text.Control), "T " + std::string(text.Control));
  }
}

// ------------------------------------------------------------ storing a filter

TEST_F(FilterDialog, NewFilterWithOnlyANameStoresTheDefaults) {
  Form form(folder());
  form.dialog->SetNewFilter();
  EXPECT_EQ(form.chain(), std::vector<std::string>{"0:FL_PrintStdHead"});
  form.dialog->show();
  form.eName->setText(" my filter ");
  form.btOK->click();
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_TRUE(form.dialog->Accepted());
  EXPECT_FALSE(form.dialog->isVisible());

  // Stored over a table entry that held another filter: every field the
  // dialog edits is replaced, the output sink and the return pairs kept.
  TIPFilter filter;
  filter.Name = "old";
  filter.AllProto = 0;
  filter.Protos.fill(6);
  filter.IcmpTypes.fill(8);
  filter.SIP = filter.DIP = "10.0.0.1";
  filter.SPort = filter.DPort = 80;
  filter.IgZero = filter.ReturnPkg = 1;
  filter.OutProc = ignoreOutput;
  filter.ProcCount = 3;
  filter.Procs[0] = filter.Procs[1] = filter.Procs[2] = kCountHandler;
  const std::shared_ptr<TReturnPairs> pairs = filter.Returns;
  form.dialog->StoreFilter(filter);

  EXPECT_EQ(filter.Name, " my filter ") << "stored as typed";
  EXPECT_EQ(filter.AllProto, -1);
  EXPECT_EQ(filter.Protos, padded<8>({}));
  EXPECT_EQ(filter.IcmpTypes, padded<32>({}));
  EXPECT_EQ(filter.SIP, "");
  EXPECT_EQ(filter.DIP, "");
  EXPECT_EQ(filter.SPort, 0);
  EXPECT_EQ(filter.DPort, 0);
  EXPECT_EQ(filter.IgZero, 0);
  EXPECT_EQ(filter.ReturnPkg, 0);
  expectChain(filter, {handlerRow(0)});
  EXPECT_EQ(filter.OutProc, ignoreOutput);
  EXPECT_EQ(filter.Returns, pairs);
}

TEST_F(FilterDialog, ProtocolBoxesArePackedInTheirOrder) {
  struct Case {
    const char *what;
    bool all, tcp, udp, icmp, other;
    const char *otherText;
    bool anyType;           // "-1:ANY"
    std::vector<int> types; // ICMP list entries ticked
    int32_t allProto;
    std::vector<uint8_t> protos;
    std::vector<uint8_t> icmpTypes;
  };
  const std::vector<Case> cases{
      {"TCP and ICMP echo", false, true, false, true, false, "", false, {5}, 0, {6, 1}, {8}},
      {"Other alone", false, false, false, false, true, "47", false, {}, 0, {47}, {}},
      {"every box, any ICMP type, Other's low byte",
       false,
       true,
       true,
       true,
       true,
       "300",
       true,
       {},
       0,
       {6, 17, 1, 44},
       {254}},
      {"ICMP types in list order",
       false,
       false,
       false,
       true,
       false,
       "",
       false,
       {11, 1, 3},
       0,
       {1},
       {0, 4, 16}},
      {"ANY wins over ticked types",
       false,
       false,
       false,
       true,
       false,
       "",
       true,
       {5, 6},
       0,
       {1},
       {254}},
      {"types without ICMP are ignored",
       false,
       false,
       true,
       false,
       false,
       "",
       false,
       {5},
       0,
       {17},
       {}},
      {"no protocol at all", false, false, false, false, false, "", true, {}, 0, {}, {}},
      {"All ignores the boxes", true, true, false, true, true, "abc", false, {5}, -1, {}, {}},
  };
  for (const Case &c : cases) {
    Form form(folder());
    Form::setTicked(form.chkAll, false);
    Form::setTicked(form.chkTCP, c.tcp);
    Form::setTicked(form.chkUDP, c.udp);
    Form::setTicked(form.ChkOther, c.other);
    form.eOther->setText(c.otherText);
    // Types are chosen while ICMP is ticked, as the list is only open then.
    Form::setTicked(form.chkICMP, true);
    form.setIcmpEntry(0, false);
    for (int entry : c.types)
      form.setIcmpEntry(entry, true);
    form.setIcmpEntry(0, c.anyType);
    Form::setTicked(form.chkICMP, c.icmp);
    Form::setTicked(form.chkAll, c.all);

    const TIPFilter filter = form.stored();
    EXPECT_EQ(filter.AllProto, c.allProto) << c.what;
    EXPECT_EQ(filter.Protos, padded<8>(c.protos)) << c.what;
    EXPECT_EQ(filter.IcmpTypes, padded<32>(c.icmpTypes)) << c.what;
  }
}

TEST_F(FilterDialog, AddressesAreStoredAsTypedAndPortsThatAreNoIntegersAsZero) {
  struct Case {
    const char *port;
    int32_t stored;
  };
  const std::vector<Case> cases{
      {"", 0},     {"abc", 0}, {"12abc", 0}, {"80", 80},         {" 443 ", 443},
      {"$50", 80}, {"-1", -1}, {"1.5", 0},   {"99999999999", 0},
  };
  for (const Case &c : cases) {
    Form form(folder());
    form.eSPort->setEditText(c.port);
    form.eDPort->setEditText(c.port);
    form.eSIP->setEditText(" 10.0.0.1");
    form.eDIP->setEditText("host");
    const TIPFilter filter = form.stored();
    EXPECT_EQ(filter.SPort, c.stored) << '"' << c.port << '"';
    EXPECT_EQ(filter.DPort, c.stored) << '"' << c.port << '"';
    EXPECT_EQ(filter.SIP, " 10.0.0.1");
    EXPECT_EQ(filter.DIP, "host");
  }
}

TEST_F(FilterDialog, StoreFilterRefusesAnOtherNumberWithoutTouchingTheFilter) {
  Form form(folder());
  form.eName->setText("new name");
  Form::setTicked(form.chkAll, false);
  Form::setTicked(form.chkTCP, true);
  Form::setTicked(form.ChkOther, true);
  form.eOther->setText("abc");
  TIPFilter filter;
  filter.Name = "kept";
  filter.AllProto = -1;
  filter.Protos = padded<8>({17});
  filter.IcmpTypes = padded<32>({254});
  filter.ProcCount = 1;
  filter.Procs[0] = kCountHandler;
  EXPECT_THROW(form.dialog->StoreFilter(filter), std::invalid_argument);
  EXPECT_EQ(filter.Name, "kept");
  EXPECT_EQ(filter.AllProto, -1);
  EXPECT_EQ(filter.Protos, padded<8>({17}));
  EXPECT_EQ(filter.IcmpTypes, padded<32>({254}));
  expectChain(filter, {kCountHandler});
}

// ------------------------------------------------------------ OK and closing

TEST_F(FilterDialog, OkRefusesBadNamesAndAMissingProtocolNumber) {
  const std::string nameMessage = "Name can't contain following characters or be empty:\\/*?:|<>";
  const std::string otherMessage = "Missing Package Type";
  struct Case {
    const char *name;
    bool all;
    bool other;
    const char *otherText;
    std::string message; // empty: accepted
    const char *focus;   // the field that gets the focus when refused
  };
  std::vector<Case> cases;
  for (const char *name :
       {"a\\b", "a/b", "a*b", "a?b", "a:b", "a|b", "a<b", "a>b", "", "   ", "\t"})
    cases.push_back({name, true, false, "", nameMessage, "eName"});
  cases.insert(cases.end(), {
                                {" spaced name ", true, false, "", "", nullptr},
                                {"x", true, true, "", otherMessage, "eOther"},
                                {"x", false, true, "  ", otherMessage, "eOther"},
                                {"x", false, true, "abc", otherMessage, "eOther"},
                                {"x", false, true, " 47 ", "", nullptr},
                                {"x", false, false, "abc", "", nullptr},
                                {"a/b", false, true, "", nameMessage, "eName"},
                            });
  for (const Case &c : cases) {
    boxes_.clear();
    Form form(folder());
    form.dialog->show();
    form.eName->setText(c.name);
    Form::setTicked(form.chkAll, false);
    Form::setTicked(form.ChkOther, c.other);
    form.eOther->setText(c.otherText);
    Form::setTicked(form.chkAll, c.all);
    form.btCancel->setFocus();
    form.btOK->click();
    const std::string what = std::string("name \"") + c.name + "\", other \"" + c.otherText + '"';
    if (c.message.empty()) {
      EXPECT_TRUE(boxes_.empty()) << what;
      EXPECT_TRUE(form.dialog->Accepted()) << what;
      EXPECT_FALSE(form.dialog->isVisible()) << what;
    } else {
      EXPECT_EQ(boxes_, std::vector<std::string>{c.message}) << what;
      EXPECT_FALSE(form.dialog->Accepted()) << what;
      EXPECT_TRUE(form.dialog->isVisible()) << what << ": the dialog stays open";
      ASSERT_NE(form.dialog->focusWidget(), nullptr) << what;
      EXPECT_EQ(form.dialog->focusWidget()->objectName().toStdString(), c.focus) << what;
    }
  }
}

TEST_F(FilterDialog, EveryWayOfClosingSavesTheRecentValues) {
  struct Case {
    const char *what;
    std::function<void(Form &)> close;
    bool accepted;
  };
  const std::vector<Case> cases{
      {"OK", [](Form &f) { f.btOK->click(); }, true},
      {"Cancel", [](Form &f) { f.btCancel->click(); }, false},
      {"Escape", [](Form &f) { QTest::keyClick(f.dialog.get(), Qt::Key_Escape); }, false},
      {"window closed", [](Form &f) { f.dialog->close(); }, false},
  };
  for (const Case &c : cases) {
    TempFolder folder("filter-dialog");
    Form form(folder.path() + "/");
    form.dialog->show();
    form.eName->setText("name");
    form.eSIP->setEditText("10.0.0.1");
    form.eDPort->setEditText("80");
    c.close(form);
    EXPECT_TRUE(boxes_.empty()) << c.what;
    EXPECT_EQ(form.dialog->Accepted(), c.accepted) << c.what;
    EXPECT_FALSE(form.dialog->isVisible()) << c.what;
    // Only OK confirms the values typed; every close writes the files.
    EXPECT_EQ(ReadWholeFile(folder.path() + "/MRU_SIP.dat"), c.accepted ? "10.0.0.1\r\n" : "")
        << c.what;
    EXPECT_EQ(ReadWholeFile(folder.path() + "/MRU_DPort.dat"), c.accepted ? "80\r\n" : "")
        << c.what;
    for (const char *empty : {"MRU_SPort.dat", "MRU_DIP.dat"}) {
      EXPECT_TRUE(std::filesystem::exists(folder.path() + "/" + empty)) << c.what << ' ' << empty;
      EXPECT_EQ(ReadWholeFile(folder.path() + "/" + empty), "") << c.what << ' ' << empty;
    }
    // Accepted tells how the dialog was last closed.
    form.dialog->show();
    form.btCancel->click();
    EXPECT_FALSE(form.dialog->Accepted()) << c.what << ", then Cancel";
  }
}

TEST_F(FilterDialog, ConfirmedValuesMoveToTheTopOfTheirList) {
  {
    std::ofstream(folder() + "MRU_SIP.dat", std::ios::binary)
        << "10.0.0.2\n\n10.0.0.3\r\n10.0.0.2\r\n";
    Form form(folder());
    EXPECT_EQ(form.recentValues(form.eSIP), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}))
        << "LF and CR LF ends; empty and repeated lines dropped";
    EXPECT_EQ(form.eSIP->currentText(), "") << "a loaded list selects nothing";
    form.eName->setText("n");
    form.eSIP->setEditText("10.0.0.3");
    form.btOK->click();
    EXPECT_EQ(recentFile("MRU_SIP.dat"), "10.0.0.3\r\n10.0.0.2\r\n");
  }
  {
    Form form(folder());
    form.dialog->show();
    // Enter in the edit confirms the value at once. Enter also presses the
    // default button, which the empty name keeps from closing the dialog.
    form.eSIP->setFocus();
    form.eSIP->setEditText("10.0.0.9");
    QTest::keyClick(form.eSIP->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(form.recentValues(form.eSIP),
              (std::vector<std::string>{"10.0.0.9", "10.0.0.3", "10.0.0.2"}));
    form.eSIP->setEditText("10.0.0.2");
    QTest::keyClick(form.eSIP->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(form.recentValues(form.eSIP),
              (std::vector<std::string>{"10.0.0.2", "10.0.0.9", "10.0.0.3"}));
    EXPECT_EQ(form.eSIP->currentText(), "10.0.0.2");
    EXPECT_TRUE(form.dialog->isVisible());
    boxes_.clear();
    // An empty edit at close adds nothing.
    form.eSIP->setEditText("");
    form.dialog->close();
    EXPECT_EQ(recentFile("MRU_SIP.dat"), "10.0.0.2\r\n10.0.0.9\r\n10.0.0.3\r\n");
  }
  {
    // A shown filter's values are confirmed by OK, not by Cancel; port 0
    // ("any") is not worth recalling.
    TIPFilter filter;
    filter.Name = "f";
    filter.SIP = "10.0.0.3";
    filter.DPort = 53;
    {
      Form form(folder());
      form.dialog->ShowFilter(filter);
      form.btCancel->click();
      EXPECT_EQ(recentFile("MRU_DPort.dat"), "");
    }
    Form form(folder());
    form.dialog->ShowFilter(filter);
    form.btOK->click();
    EXPECT_EQ(recentFile("MRU_SIP.dat"), "10.0.0.3\r\n10.0.0.2\r\n10.0.0.9\r\n");
    EXPECT_EQ(recentFile("MRU_DPort.dat"), "53\r\n");
    EXPECT_EQ(recentFile("MRU_SPort.dat"), "");
  }
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

TEST_F(FilterDialog, RecentFilesThatCannotBeWrittenAreReported) {
  Form form(folder() + "missing/");
  form.dialog->show();
  form.eName->setText("name");
  EXPECT_NO_THROW(form.btOK->click());
  EXPECT_TRUE(form.dialog->Accepted()) << "the filter itself is still accepted";
  EXPECT_FALSE(form.dialog->isVisible());
  ASSERT_EQ(boxes_.size(), 1u);
  for (const char *file : {"MRU_SIP.dat", "MRU_SPort.dat", "MRU_DIP.dat", "MRU_DPort.dat"})
    EXPECT_NE(boxes_[0].find(folder() + "missing/" + file), std::string::npos) << boxes_[0];
  EXPECT_NE(boxes_[0].find("No such file or directory"), std::string::npos) << boxes_[0];
}

TEST_F(FilterDialog, ARecentFileThatCannotBeReadIsAnError) {
  std::filesystem::create_directory(folder() + "MRU_DIP.dat");
  try {
    Form form(folder());
    ADD_FAILURE() << "the dialog opened over an unreadable list";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find(folder() + "MRU_DIP.dat"), std::string::npos) << e.what();
  }
}

// ------------------------------------------------------------ showing a filter

TEST_F(FilterDialog, ShowFilterTicksTheIcmpTypesFound) {
  struct Case {
    const char *what;
    std::vector<uint8_t> icmpTypes;
    std::vector<int> ticked; // list entries, "-1:ANY" included
  };
  const std::vector<Case> cases{
      {"echo reply and echo", {0, 8}, {1, 5}},
      {"every type", {254, 8}, {0, 5}},
      {"types the list lacks", {2, 16, 255, 254}, {11}},
      {"none", {}, {}},
  };
  for (const Case &c : cases) {
    Form form(folder());
    TIPFilter filter;
    filter.AllProto = 0;
    filter.Protos = padded<8>({1});
    filter.IcmpTypes = padded<32>(c.icmpTypes);
    form.dialog->ShowFilter(filter);
    EXPECT_FALSE(form.chkAll->isChecked()) << c.what;
    EXPECT_TRUE(form.chkICMP->isChecked()) << c.what;
    EXPECT_TRUE(form.chkBICMP->isEnabled()) << c.what;
    const bool any = std::find(c.ticked.begin(), c.ticked.end(), 0) != c.ticked.end();
    for (int i = 0; i < 12; ++i) {
      const bool ticked = std::find(c.ticked.begin(), c.ticked.end(), i) != c.ticked.end();
      EXPECT_EQ(form.icmpEntryTicked(i), ticked) << c.what << ": entry " << i;
      EXPECT_EQ(form.icmpEntryEnabled(i), i == 0 || !any) << c.what << ": entry " << i;
    }
  }
}

// Everything the dialog can show comes back unchanged through StoreFilter.
TEST_F(FilterDialog, AShownFilterIsStoredBackUnchanged) {
  TIPFilter filter;
  filter.Name = "Mail";
  filter.AllProto = 0;
  filter.Protos = padded<8>({6, 17, 1, 47});
  filter.IcmpTypes = padded<32>({3, 13});
  filter.SIP = "10.0.0.2";
  filter.DIP = "10.0.0.1";
  filter.SPort = 1025;
  filter.DPort = 25;
  filter.IgZero = 1;
  filter.ReturnPkg = 1;
  filter.ProcCount = 2;
  filter.Procs[0] = kCountHandler;
  filter.Procs[1] = handlerRow(0);

  Form form(folder());
  form.dialog->ShowFilter(filter);
  EXPECT_EQ(form.eName->text(), "Mail");
  for (QCheckBox *box : {form.chkTCP, form.chkUDP, form.chkICMP, form.ChkOther})
    EXPECT_TRUE(box->isChecked() && box->isEnabled()) << box->objectName().toStdString();
  EXPECT_EQ(form.eOther->text(), "47");
  EXPECT_EQ(form.eSPort->currentText(), "1025");
  EXPECT_EQ(form.eDIP->currentText(), "10.0.0.1");
  EXPECT_TRUE(form.chkReturn->isChecked());
  EXPECT_TRUE(form.chkIgZero->isChecked());
  EXPECT_EQ(form.chain(), (std::vector<std::string>{"3:TST_Count", "0:FL_PrintStdHead"}));

  const TIPFilter stored = form.stored();
  EXPECT_EQ(stored.Name, filter.Name);
  EXPECT_EQ(stored.AllProto, filter.AllProto);
  EXPECT_EQ(stored.Protos, filter.Protos);
  EXPECT_EQ(stored.IcmpTypes, filter.IcmpTypes);
  EXPECT_EQ(stored.SIP, filter.SIP);
  EXPECT_EQ(stored.DIP, filter.DIP);
  EXPECT_EQ(stored.SPort, filter.SPort);
  EXPECT_EQ(stored.DPort, filter.DPort);
  EXPECT_EQ(stored.IgZero, filter.IgZero);
  EXPECT_EQ(stored.ReturnPkg, filter.ReturnPkg);
  expectChain(stored, {kCountHandler, handlerRow(0)});
}

TEST_F(FilterDialog, ShowFilterReadsOddValuesTheWayTheyMatch) {
  TIPFilter filter;
  filter.AllProto = -1;
  filter.Protos = padded<8>({47, 50, 6});
  filter.IgZero = 2; // only 1 switches it on
  filter.ReturnPkg = -1;
  Form form(folder());
  // A second filter shown in the same dialog leaves nothing of the first.
  TIPFilter first;
  first.AllProto = 0;
  first.Protos = padded<8>({17, 1, 99});
  first.IcmpTypes = padded<32>({8});
  form.dialog->ShowFilter(first);
  form.dialog->ShowFilter(filter);
  EXPECT_TRUE(form.chkAll->isChecked());
  EXPECT_FALSE(form.ChkOther->isEnabled());
  EXPECT_TRUE(form.ChkOther->isChecked());
  EXPECT_EQ(form.eOther->text(), "50") << "the last other protocol stays";
  EXPECT_TRUE(form.chkTCP->isChecked());
  EXPECT_FALSE(form.chkUDP->isChecked());
  EXPECT_FALSE(form.chkICMP->isChecked());
  EXPECT_TRUE(form.icmpEntryTicked(0));
  EXPECT_FALSE(form.icmpEntryTicked(5));
  EXPECT_FALSE(form.chkIgZero->isChecked());
  EXPECT_FALSE(form.chkReturn->isChecked());
  EXPECT_EQ(form.eSPort->currentText(), "0");
}

TEST_F(FilterDialog, HandlersOfMissingModulesAreDroppedFromTheChain) {
  TIPFilter filter;
  filter.ProcCount = 4;
  filter.Procs[0] = handlerRow(0);
  filter.Procs[1] = {nullptr, "LTGone.so", "GONE_Proc", "a plug-in since removed"};
  filter.Procs[2] = kCountHandler;
  filter.Procs[3] = {nullptr, "internal", "FL_DumpMessage", "names match exactly"};
  filter.Procs[4] = handlerRow(1); // beyond ProcCount: not part of the chain
  Form form(folder());
  form.dialog->ShowFilter(filter);
  EXPECT_EQ(form.chain(), (std::vector<std::string>{"0:FL_PrintStdHead", "3:TST_Count"}));
  form.dialog->StoreFilter(filter);
  expectChain(filter, {handlerRow(0), kCountHandler});
}

// ------------------------------------------------------------ the chain buttons

TEST_F(FilterDialog, RemovingTheSecondOfThreeHandlersStopsItRunning) {
  TIPFilter filter;
  filter.OutProc = ignoreOutput;
  filter.ProcCount = 3;
  filter.Procs[0] = handlerRow(0);
  filter.Procs[1] = kCountHandler;
  filter.Procs[2] = handlerRow(1);
  NotifyCapStat(filter);
  ASSERT_EQ(gCountedCalls, 1);

  Form form(folder());
  form.dialog->ShowFilter(filter);
  form.lbAppFilter->setCurrentRow(1);
  form.Button4->click();
  EXPECT_EQ(form.chain(), (std::vector<std::string>{"0:FL_PrintStdHead", "1:FL_DumpMessage"}));
  form.dialog->StoreFilter(filter);
  expectChain(filter, {handlerRow(0), handlerRow(1)});
  NotifyCapStat(filter);
  EXPECT_EQ(gCountedCalls, 1);

  form.lbAppFilter->clearSelection();
  form.Button4->click();
  EXPECT_EQ(form.chain().size(), 2u) << "nothing selected, nothing removed";
}

TEST_F(FilterDialog, AddAppendsTheSelectedHandlerAndRemoveAllEmpties) {
  Form form(folder());
  form.Button3->click();
  EXPECT_TRUE(form.chain().empty()) << "nothing selected, nothing added";
  form.lbFilters->setCurrentRow(kCountRow);
  form.Button3->click();
  form.Button3->click();
  EXPECT_EQ(form.chain(), (std::vector<std::string>{"3:TST_Count", "3:TST_Count"}));
  TIPFilter filter;
  form.dialog->StoreFilter(filter);
  expectChain(filter, {kCountHandler, kCountHandler});

  form.Button5->click();
  EXPECT_TRUE(form.chain().empty());
  form.dialog->StoreFilter(filter);
  expectChain(filter, {});
}

TEST_F(FilterDialog, AChainHoldsAtMost64Handlers) {
  TIPFilter filter;
  filter.ProcCount = kMaxProcsPerFilter;
  filter.Procs.fill(handlerRow(1));
  Form form(folder());
  form.dialog->ShowFilter(filter);
  ASSERT_EQ(form.lbAppFilter->count(), 64);
  form.lbFilters->setCurrentRow(kCountRow);
  form.Button3->click();
  EXPECT_EQ(boxes_, std::vector<std::string>{"A filter holds at most 64 handlers"});
  EXPECT_EQ(form.lbAppFilter->count(), 64);

  // With room made, the same click adds.
  form.lbAppFilter->setCurrentRow(0);
  form.Button4->click();
  form.Button3->click();
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(form.chain().back(), "3:TST_Count");
  form.dialog->StoreFilter(filter);
  EXPECT_EQ(filter.ProcCount, 64);
  expectSameRow(filter.Procs[63], kCountHandler, 63);

  // However the list came to be longer, the filter's 64 rows are the limit.
  for (int i = 0; i < 10; ++i)
    form.lbAppFilter->addItem("0:FL_PrintStdHead");
  form.dialog->StoreFilter(filter);
  EXPECT_EQ(filter.ProcCount, 64);
  expectSameRow(filter.Procs[63], kCountHandler, 63);
}

TEST_F(FilterDialog, TheMemoDescribesTheSelectedHandler) {
  Form form(folder());
  form.lbFilters->setCurrentRow(kCountRow);
  EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "Counts calls(LTTest.so:TST_Count) ");
  form.lbFilters->setCurrentRow(0);
  EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "Print IP Header(Internal:FL_PrintStdHead) ");
  form.lbFilters->clearSelection();
  EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "");
}

} // namespace
