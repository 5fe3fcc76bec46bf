#include "ui/main_window.h"

#include "filters/filter_file.h"
#include "filters/plugin_modules.h"
#include "pipeline/rtf_writer.h"
#include "settings/interface_texts.h"
#include "settings/settings_folder.h"
#include "stats/system_resolver.h"
#include "ui/about_dialog.h"
#include "ui/captions.h"
#include "ui/data_view_writer.h"
#include "ui/document_lines.h"
#include "ui/error_display.h"
#include "ui/filter_dialog.h"
#include "ui/form_size.h"
#include "ui/info_page_layout.h"
#include "ui/product_page.h"
#include "ui/statistics_model.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

constexpr int kTickMs = 1000;
// The capture page as designed; the lists' rule starts from these.
constexpr int kInfoPageWidth = 683;
constexpr int kInfoPageHeight = 350;
constexpr int kListLeft = 49;
constexpr int kHeadingLeft = 25;
constexpr int kListTop = 160;
constexpr int kListGap = 10;

const char kGradientStyle[] =
    "background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #ffffff, stop:1 #c7d8ed);"
    "font-weight: bold; padding-left: 4px;";

QToolButton *ribbonButton(const char *name, const char *text, QWidget *parent, bool large = true) {
  auto *button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(text);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  if (large)
    button->setMinimumHeight(48);
  return button;
}

QGroupBox *ribbonGroup(const char *name, const char *title, QWidget *parent) {
  auto *group = new QGroupBox(title, parent);
  group->setObjectName(name);
  new QHBoxLayout(group);
  return group;
}

QLabel *label(const char *name, QWidget *parent, const char *style = nullptr) {
  auto *result = new QLabel(parent);
  result->setObjectName(name);
  if (style)
    result->setStyleSheet(style);
  return result;
}

QTreeView *listView(const char *name, QWidget *parent) {
  auto *view = new QTreeView(parent);
  view->setObjectName(name);
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setItemsExpandable(false);
  view->setAllColumnsShowFocus(true);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->header()->setStretchLastSection(false);
  return view;
}

// The columns of a list that follow their contents; the others keep their width.
std::vector<int> sizedColumns(int columns, std::initializer_list<int> fixed) {
  std::vector<int> sized;
  for (int column = 0; column < columns; ++column)
    if (std::find(fixed.begin(), fixed.end(), column) == fixed.end())
      sized.push_back(column);
  return sized;
}

// Measures again the sized columns a refresh touched. Done once per tick:
// the header's own ResizeToContents mode measures on every changed row,
// which takes seconds when a thousand conversations changed.
void fitColumns(QTreeView *view, const std::vector<int> &sized, const TListChange &change) {
  const bool all = change.Rebuilt || change.Appended > 0;
  std::vector<bool> touched(size_t(view->model()->columnCount()), all);
  for (const auto &[row, column] : change.ChangedCells)
    touched[size_t(column)] = true;
  for (int column : sized)
    if (touched[size_t(column)])
      view->resizeColumnToContents(column);
}

QString fromText(const std::string &text) {
  return QString::fromStdString(text);
}

} // namespace

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent) {
  setObjectName("frmMain");
  buildControls();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (!closed_) {
    FormCloseQuery();
    FormClose();
  }
}

// ------------------------------------------------------------------ controls

void TfrmMain::buildControls() {
  auto *central = new QWidget(this);
  auto *layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(buildRibbon());

  AdvOfficePager1_ = new QTabWidget(central);
  AdvOfficePager1_->setObjectName("AdvOfficePager1");
  AdvOfficePager1_->addTab(buildInfoPage(), "Capture Info");
  AdvOfficePager1_->addTab(buildDataPage(), "View Data");
  pgAbout_ = new TProductPage;
  AdvOfficePager1_->addTab(pgAbout_, "About");
  layout->addWidget(AdvOfficePager1_, 1);
  setCentralWidget(central);

  statusPanel_ = new QLabel(this);
  statusPanel_->setObjectName("sbPanel0");
  statusBar()->setObjectName("sb");
  statusBar()->addWidget(statusPanel_, 1);

  Timer1_ = new QTimer(this);
  Timer1_->setObjectName("Timer1");
  Timer1_->setInterval(kTickMs);
  connect(Timer1_, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
  resize(kInfoPageWidth + 40, kInfoPageHeight + 200);
}

QWidget *TfrmMain::buildRibbon() {
  tbMainToolBar_ = new QTabWidget;
  tbMainToolBar_->setObjectName("tbMainToolBar");
  auto *tab = new QWidget;
  auto *row = new QHBoxLayout(tab);
  row->setContentsMargins(2, 2, 2, 2);

  QGroupBox *barMain = ribbonGroup("barMain", "Main Tool Bar", tab);
  btListAdapter_ = ribbonButton("btListAdapter", "Network Adapters", barMain);
  adapterMenu_ = new QMenu(btListAdapter_);
  btListAdapter_->setMenu(adapterMenu_);
  btListAdapter_->setPopupMode(QToolButton::InstantPopup);
  btStart_ = ribbonButton("btStart", "Start Cap", barMain);
  btStop_ = ribbonButton("btStop", "Stop", barMain);
  btStop_->setEnabled(false);
  connect(btStart_, &QToolButton::clicked, this, &TfrmMain::btStartClick);
  connect(btStop_, &QToolButton::clicked, this, &TfrmMain::btStopClick);
  for (QWidget *w : {static_cast<QWidget *>(btListAdapter_), static_cast<QWidget *>(btStart_),
                     static_cast<QWidget *>(btStop_)})
    barMain->layout()->addWidget(w);

  QGroupBox *barTask = ribbonGroup("barTask", "Task Info", tab);
  btPromiscuous_ = ribbonButton("btPromiscuous", "Promiscuous", barTask, false);
  btIgnorNonIP_ = ribbonButton("btIgnorNonIP", "Ignor Non IP", barTask, false);
  for (QToolButton *check : {btPromiscuous_, btIgnorNonIP_}) {
    check->setCheckable(true);
    check->setChecked(true);
    barTask->layout()->addWidget(check);
  }
  QToolButton *btAbout = ribbonButton("btAbout", "&About", barTask, false);
  connect(btAbout, &QToolButton::clicked, this, [this] {
    TfrmAbout about(this);
    about.exec();
  });
  barTask->layout()->addWidget(btAbout);

  QGroupBox *barFilter = ribbonGroup("barFilter", "Filter", tab);
  QToolButton *btFilterNew = ribbonButton("btFilterNew", "Create Filter", barFilter);
  QToolButton *btFEdit = ribbonButton("btFEdit", "Edit", barFilter);
  btFList_ = new QComboBox(barFilter);
  btFList_->setObjectName("btFList");
  btFList_->setFixedWidth(100 + 40);
  QToolButton *btFApply = ribbonButton("btFApply", "Apply Filter To Data View", barFilter, false);
  for (QWidget *w : {static_cast<QWidget *>(btFilterNew), static_cast<QWidget *>(btFEdit),
                     static_cast<QWidget *>(btFList_), static_cast<QWidget *>(btFApply)})
    barFilter->layout()->addWidget(w);

  QGroupBox *barEdit = ribbonGroup("barEdit", "Edit", tab);
  QToolButton *btClear = ribbonButton("btClear", "&Clear", barEdit);
  QToolButton *btSave = ribbonButton("btSave", "Save To File", barEdit);
  barEdit->layout()->addWidget(btClear);
  barEdit->layout()->addWidget(btSave);
  const auto command = [this](QToolButton *button, void (TfrmMain::*click)()) {
    connect(button, &QToolButton::clicked, this,
            [this, click] { RunCommand(this, [&] { (this->*click)(); }); });
  };
  command(btFilterNew, &TfrmMain::btFilterNewClick);
  command(btFEdit, &TfrmMain::btFEditClick);
  command(btFApply, &TfrmMain::btFApplyClick);
  command(btClear, &TfrmMain::btClearClick);
  command(btSave, &TfrmMain::btSaveClick);

  for (QGroupBox *group : {barMain, barTask, barFilter, barEdit})
    row->addWidget(group);
  row->addStretch(1);
  tbMainToolBar_->addTab(tab, "Main");
  tbMainToolBar_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  return tbMainToolBar_;
}

QWidget *TfrmMain::buildInfoPage() {
  pgInfo_ = new QWidget;
  pgInfo_->setObjectName("pgInfo");
  glbNetCard_ = label("glbNetCard", pgInfo_, kGradientStyle);
  glbNetCard_->setGeometry(kHeadingLeft, 6, kInfoPageWidth - 50, 22);
  Label1_ = label("Label1", pgInfo_);
  Label2_ = label("Label2", pgInfo_);
  Label3_ = label("Label3", pgInfo_);
  int top = 32;
  for (QLabel *line : {Label1_, Label2_, Label3_}) {
    line->setGeometry(kListLeft, top, kInfoPageWidth - 70, 18);
    top += 19;
  }
  glbTrf_ = label("glbTrf", pgInfo_, kGradientStyle);
  glbTrf_->setGeometry(kHeadingLeft, 92, kInfoPageWidth - 50, 22);
  LabelTraffic_ = label("LabelTraffic", pgInfo_);
  LabelTraffic_->setGeometry(kListLeft, 117, kInfoPageWidth - 70, 38);

  lstTraffic_ = listView("lstTraffic", pgInfo_);
  lstService_ = listView("lstService", pgInfo_);
  trafficModel_ = new TStatisticsListModel(EStatisticsList::Traffic, statistics_, this);
  serviceModel_ = new TStatisticsListModel(EStatisticsList::Service, statistics_, this);
  lstTraffic_->setModel(trafficModel_);
  lstService_->setModel(serviceModel_);
  trafficSized_ = sizedColumns(kTrafficColumnCount, {kSourceIpColumn, kDestIpColumn});
  serviceSized_ = sizedColumns(kServiceColumnCount, {kHostsColumn});
  pgInfo_->resize(kInfoPageWidth, kInfoPageHeight);
  pgInfo_->installEventFilter(this);
  AdvOfficePager1Resize();
  return pgInfo_;
}

QWidget *TfrmMain::buildDataPage() {
  auto *page = new QWidget;
  page->setObjectName("pgDataAll");
  auto *layout = new QVBoxLayout(page);
  glbDV_ = label("glbDV", page, kGradientStyle);
  logWin_ = new QPlainTextEdit(page);
  logWin_->setObjectName("logWin");
  logWin_->setReadOnly(true);
  logWin_->setLineWrapMode(QPlainTextEdit::NoWrap);
  logWin_->setUndoRedoEnabled(false);
  logWin_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logWin_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(glbDV_);
  layout->addWidget(logWin_, 1);
  return page;
}

// ------------------------------------------------------------------ start-up

void TfrmMain::FormCreate() {
  // The pipeline: its locks and output lists, then the filter subsystem.
  pipeline_ = std::make_unique<TCapturePipeline>();
  const std::string folder = SettingsFolder();
  pipeline_->InitFilterSubsystem(ExecutableFolder(), folder);

  // The Data View's text attributes.
  dataView_ = std::make_unique<TDataViewWriter>(logWin_);
  QFont viewFont(TDataViewWriter::FixedFamily(), 9);
  viewFont.setFixedPitch(true);
  logWin_->setFont(viewFont);

  dataFolder_ = folder;
  EnsureFolder(dataFolder_);

  FormSize1_ = new TFormSize(this);
  FormSize1_->setObjectName("FormSize1");
  FormSize1_->SetSaveName(dataFolder_ + "VantorForm.INI");
  FormSize1_->RestoreBounds();

  SettingsConfig.SetFileName(dataFolder_ + "Vantor.ini");
  SettingsConfig.Load();
  LangConfig.SetFileName(ChooseLanguageFile(SettingsConfig, dataFolder_, SystemLanguageId()));
  LangConfig.Load();
  LoadLanguage();

  pipeline_->CreateEngines(EEngineChoice::Automatic, std::make_unique<TSystemResolver>());
  pipeline_->OnRefresh = [this](TTrafficClass &table) { refreshStatistics(table); };
  pipeline_->OnFlush = [this](const std::vector<std::string> &items) { dataView_->Flush(items); };
  connect(pipeline_.get(), &TCapturePipeline::CaptureFinished, this, &TfrmMain::captureFinished);

  FillDisplays();
  Timer1_->start();
}

void TfrmMain::LoadLanguage() {
  ::LoadLanguage(LangConfig, [this](std::string_view control, const std::string &text) {
    const QString name = QString::fromUtf8(control.data(), qsizetype(control.size()));
    const QString value = fromText(text);
    if (name == objectName()) {
      setWindowTitle(value);
      return;
    }
    if (name == "tbMainToolBar") {
      tbMainToolBar_->setTabText(0, value);
      return;
    }
    for (int page = 0; page < AdvOfficePager1_->count(); ++page) {
      if (AdvOfficePager1_->widget(page)->objectName() == name) {
        AdvOfficePager1_->setTabText(page, value);
        return;
      }
    }
    SetControlCaption(findChild<QObject *>(name), value);
  });
}

// ------------------------------------------------------------ adapter display

void TfrmMain::FillDisplays() {
  if (pipeline_->RefreshAdapters() != 0)
    return;
  const std::vector<std::string> names = pipeline_->AdapterNames();
  const std::vector<std::string> descriptions = pipeline_->AdapterDescriptions();
  adapterMenu_->clear();
  auto *group = new QActionGroup(adapterMenu_);
  group->setExclusive(true);
  for (size_t i = 0; i < names.size(); ++i) {
    // libpcap describes few Linux adapters: the name stands in for a
    // missing description, so no entry is blank.
    const std::string &description =
        i < descriptions.size() && !descriptions[i].empty() ? descriptions[i] : names[i];
    QAction *entry = adapterMenu_->addAction(fromText(description));
    entry->setObjectName(fromText("adapter:" + names[i]));
    entry->setCheckable(true);
    group->addAction(entry);
    connect(entry, &QAction::triggered, this, [this, i] { btListAdapterClick(int(i)); });
  }
  if (names.empty())
    return;
  btListAdapterClick(0);

  fillFilterList();
  pgAbout_->WritePageText();
  statusPanel_->setText(fromText(pipeline_->EngineStatusText()));
}

void TfrmMain::fillFilterList() {
  btFList_->clear();
  for (int32_t i = 0; i < IPFilterCount; ++i)
    btFList_->addItem(fromText(IPFilters[size_t(i)].Name));
  btFList_->setCurrentIndex(0);
  std::string current;
  {
    std::lock_guard lock(pipeline_->FilterLock);
    current = pipeline_->CurrentFilter.Name;
  }
  glbDV_->setText(fromText(ReadText(LangConfig, kGlbDVCaption) + " - " + current));
}

void TfrmMain::btListAdapterClick(int index) {
  const QList<QAction *> entries = adapterMenu_->actions();
  if (index < 0 || index >= entries.size())
    return;
  entries[index]->setChecked(true);
  adapterIndex_ = index;
  showAdapter(index);
}

void TfrmMain::showAdapter(int index) {
  const std::vector<std::string> names = pipeline_->AdapterNames();
  Label1_->setText(adapterMenu_->actions().at(index)->text());
  Label2_->setText(fromText(names[size_t(index)]));
  std::vector<std::string> addresses, masks;
  pipeline_->AdapterAddresses(index, addresses, masks);
  // Each pair replaces the text: the label ends with the last address.
  Label3_->clear();
  for (size_t i = 0; i < addresses.size(); ++i)
    Label3_->setText(fromText(addresses[i] + "/" + (i < masks.size() ? masks[i] : "") + ";"));
}

// ------------------------------------------------------------- capture control

void TfrmMain::btStartClick() {
  statistics_.ClearTraffic();
  trafficModel_->Reset();
  TCaptureOptions options;
  options.AdapterIndex = adapterIndex_;
  options.Promiscuous = btPromiscuous_->isChecked();
  options.IgnoreNonIP = btIgnorNonIP_->isChecked();
  const std::string error = pipeline_->StartCapture(options);
  if (!error.empty()) {
    ShowErrorBox(this, error);
    return;
  }
  btStart_->setEnabled(false);
  btStop_->setEnabled(true);
}

void TfrmMain::btStopClick() {
  if (!pipeline_ || !pipeline_->Capturing)
    return;
  pipeline_->StopCapture();
  btStart_->setEnabled(true);
  btStop_->setEnabled(false);
}

void TfrmMain::captureFinished() {
  // The engine ended by itself (the adapter went away): stop as the button
  // does, then say why.
  const std::string error = pipeline_->EngineError();
  btStopClick();
  if (!error.empty())
    ShowErrorBox(this, error);
}

// ------------------------------------------------- Data View and filter commands

void TfrmMain::btClearClick() {
  // The queue is not touched: what waits there comes with the next tick.
  logWin_->clear();
}

void TfrmMain::btSaveClick() {
  const QString chosen =
      AskRtfFileName ? AskRtfFileName()
                     : QFileDialog::getSaveFileName(this, QString(), QString(), "RTF File (*.rtf)");
  if (chosen.isEmpty())
    return;
  const std::string path = WithRtfExtension(chosen.toStdString());
  std::string error;
  if (!SaveRtf(path, TDocumentLines(*logWin_->document()), error))
    throw std::runtime_error("Cannot save the Data View to \"" + path + "\": " + error);
}

void TfrmMain::btFApplyClick() {
  const int index = btFList_->currentIndex();
  if (index < 0 || index >= IPFilterCount)
    return;
  pipeline_->ApplyFilter(IPFilters[size_t(index)]);
  // These words are fixed; the start-up caption comes from the language file.
  glbDV_->setText(fromText("Data View - " + IPFilters[size_t(index)].Name));
}

void TfrmMain::btFEditClick() {
  const int index = btFList_->currentIndex();
  if (index <= 0 || index >= IPFilterCount)
    return; // nothing selected, or "All Data"
  if (editFilter(IPFilters[size_t(index)], false))
    FillDisplays();
}

void TfrmMain::btFilterNewClick() {
  if (IPFilterCount >= kMaxIPFilters)
    throw std::runtime_error("The filter table is full: Vantor holds at most " +
                             std::to_string(kMaxIPFilters) +
                             " filters. Edit an existing filter instead.");
  // Counted only once stored and saved: a failure leaves the table as it was.
  if (editFilter(IPFilters[size_t(IPFilterCount)], true)) {
    ++IPFilterCount;
    FillDisplays();
  }
}

bool TfrmMain::editFilter(TIPFilter &entry, bool isNew) {
  TfrmFilter dialog(dataFolder_, this);
  dialog.LoadCaptions(LangConfig);
  if (isNew)
    dialog.SetNewFilter();
  else
    dialog.ShowFilter(entry);
  const bool accepted =
      ExecFilterDialog ? ExecFilterDialog(dialog) : (dialog.exec(), dialog.Accepted());
  if (!accepted)
    return false;
  dialog.StoreFilter(entry);
  entry.OutProc = &TCapturePipeline::OutputLine;
  SaveFilter(entry, dataFolder_);
  return true;
}

// ---------------------------------------------------------- statistics display

void TfrmMain::Timer1Timer() {
  if (pipeline_)
    pipeline_->Timer1Timer();
}

void TfrmMain::refreshStatistics(TTrafficClass &table) {
  TSummaryTexts texts;
  texts.BytesSent = ReadText(LangConfig, kStrBySend);
  texts.Received = ReadText(LangConfig, kStrRec);
  texts.PackageSent = ReadText(LangConfig, kStrPackSend);
  statistics_.Refresh(table, texts);
  trafficModel_->ApplyChange();
  serviceModel_->ApplyChange();
  fitColumns(lstTraffic_, trafficSized_, statistics_.TrafficChange());
  fitColumns(lstService_, serviceSized_, statistics_.ServiceChange());
  if (statistics_.SummaryChanged())
    LabelTraffic_->setText(fromText(statistics_.Summary()).replace("\r\n", "\n"));
}

void TfrmMain::AdvOfficePager1Resize() {
  const int width = pgInfo_->width();
  const int height = ListHeightFor(pgInfo_->height());
  glbTrf_->resize(width - 50, glbTrf_->height());
  glbNetCard_->resize(width - 50, glbNetCard_->height());
  lstTraffic_->setGeometry(kListLeft, kListTop, width - 70, height);
  lstService_->setGeometry(kListLeft, kListTop + height + kListGap, width - 70, height);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event) {
  if (watched == pgInfo_ && event->type() == QEvent::Resize)
    AdvOfficePager1Resize();
  return QMainWindow::eventFilter(watched, event);
}

// --------------------------------------------------------------------- close

void TfrmMain::closeEvent(QCloseEvent *event) {
  if (!closed_) {
    FormCloseQuery();
    FormClose();
  }
  event->accept();
}

void TfrmMain::FormCloseQuery() {
  btStopClick();
}

void TfrmMain::FormClose() {
  closed_ = true;
  Timer1_->stop();
  SettingsConfig.Save();
  LangConfig.Save();
  // The pipeline goes before the plug-ins whose handlers its filter holds.
  pipeline_.reset();
  UnloadFilterModules();
}
