#pragma once

#include "pipeline/capture_pipeline.h"
#include "pipeline/statistics_view.h"
#include "settings/file_config.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTabWidget;
class QPlainTextEdit;
class QTimer;
class QToolButton;
class QTreeView;
class TDataViewWriter;
class TfrmFilter;
class TFormSize;
class TProductPage;
class TStatisticsListModel;

// The main window: the ribbon with capture control, the capture information
// page with the statistics lists, the Data View page and the product page.
// It owns the capture pipeline and drives it; every caption comes from the
// language file. Control names are the widgets' object names.
class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the controls, then everything else in start-up order (FormCreate).
  explicit TfrmMain(QWidget *parent = nullptr);
  ~TfrmMain() override;

  // The adapter part of the display, the filter list and the status text.
  void FillDisplays();
  void btListAdapterClick(int index);
  void btStartClick();
  void btStopClick();
  // The once-a-second tick: statistics, then the Data View.
  void Timer1Timer();
  // Data View and filter commands.
  void btClearClick();
  void btSaveClick();
  void btFApplyClick();
  void btFEditClick();
  void btFilterNewClick();

  // How the commands ask the user; tests answer instead. AskRtfFileName
  // returns the chosen name (empty: cancelled); ExecFilterDialog shows the
  // editor modally and returns whether it was accepted.
  std::function<QString()> AskRtfFileName;
  std::function<bool(TfrmFilter &dialog)> ExecFilterDialog;

  TCapturePipeline &Pipeline() { return *pipeline_; }
  const std::string &DataFolder() const { return dataFolder_; }
  // The adapter the next capture starts on; -1: none.
  int SelectedAdapter() const { return adapterIndex_; }

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildControls();
  QWidget *buildRibbon();
  QWidget *buildInfoPage();
  QWidget *buildDataPage();
  void FormCreate();
  void LoadLanguage();
  void FormCloseQuery();
  void FormClose();
  void AdvOfficePager1Resize();
  void refreshStatistics(TTrafficClass &table);
  void showAdapter(int index);
  void captureFinished();
  void fillFilterList();
  // Edits `entry` in the editor; true when the user accepted and it was
  // stored, given the output sink and saved to its file.
  bool editFilter(TIPFilter &entry, bool isNew);

  // Controls, named as the form names them.
  QTabWidget *tbMainToolBar_ = nullptr;
  QToolButton *btListAdapter_ = nullptr;
  QMenu *adapterMenu_ = nullptr;
  QToolButton *btStart_ = nullptr;
  QToolButton *btStop_ = nullptr;
  QToolButton *btPromiscuous_ = nullptr;
  QToolButton *btIgnorNonIP_ = nullptr;
  QComboBox *btFList_ = nullptr;
  QTabWidget *AdvOfficePager1_ = nullptr;
  QWidget *pgInfo_ = nullptr;
  TProductPage *pgAbout_ = nullptr;
  QLabel *glbNetCard_ = nullptr;
  QLabel *Label1_ = nullptr;
  QLabel *Label2_ = nullptr;
  QLabel *Label3_ = nullptr;
  QLabel *glbTrf_ = nullptr;
  QLabel *LabelTraffic_ = nullptr;
  QTreeView *lstTraffic_ = nullptr;
  QTreeView *lstService_ = nullptr;
  QLabel *glbDV_ = nullptr;
  QPlainTextEdit *logWin_ = nullptr;
  QLabel *statusPanel_ = nullptr;
  QTimer *Timer1_ = nullptr;

  std::unique_ptr<TCapturePipeline> pipeline_;
  TStatisticsView statistics_;
  TStatisticsListModel *trafficModel_ = nullptr;
  TStatisticsListModel *serviceModel_ = nullptr;
  std::vector<int> trafficSized_; // columns sized to their contents
  std::vector<int> serviceSized_;
  std::unique_ptr<TDataViewWriter> dataView_;
  TFormSize *FormSize1_ = nullptr;
  TFileConfig SettingsConfig;
  TFileConfig LangConfig;
  std::string dataFolder_;
  int adapterIndex_ = -1;
  bool closed_ = false;
};
