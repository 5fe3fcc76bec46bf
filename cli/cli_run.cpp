#include "cli/cli_run.h"

#include "capture/monitor_pcap.h"
#include "cli/item_printer.h"
#include "cli/json_writer.h"
#include "filters/plugin_modules.h"
#include "packet/text_format.h"
#include "packet/text_separators.h"
#include "pipeline/data_view_document.h"
#include "pipeline/rtf_writer.h"
#include "pipeline/statistics_view.h"
#include "settings/atomic_file.h"
#include "settings/file_config.h"
#include "settings/interface_texts.h"
#include "settings/settings_folder.h"
#include "stats/traffic_class.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr int kTickMs = 1000;
constexpr int kProgressMs = 200;
constexpr int kProgressWidth = 30;
// How much the capture thread may queue ahead of the writer while reading a
// file: enough for long stretches of work between exchanges, little memory.
constexpr size_t kFileQueueLimit = size_t(32) << 20;

int stopSignalFd = -1;

void onStopSignal(int) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(stopSignalFd, &one, sizeof one);
  // A second ctrl-C while the stop runs ends the program the usual way.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

void printError(const std::string &text) {
  std::fprintf(stderr, "vantor-cli: %s\n", text.c_str());
}

int badUsage(const std::string &text) {
  std::fprintf(stderr, "vantor-cli: %s\n%s\n", text.c_str(), CliUsage().c_str());
  return kExitBadUsage;
}

// The summary texts from the language file the window would use; read only:
// the tool leaves the window's files as they are.
TSummaryTexts summaryTexts(const std::string &settingsFolder) {
  TFileConfig settings;
  settings.SetFileName(settingsFolder + "Vantor.ini");
  settings.Load();
  TFileConfig lang;
  lang.SetFileName(ChooseLanguageFile(settings, settingsFolder, SystemLanguageId()));
  lang.Load();
  TSummaryTexts texts;
  texts.BytesSent = ReadText(lang, kStrBySend);
  texts.Received = ReadText(lang, kStrRec);
  texts.PackageSent = ReadText(lang, kStrPackSend);
  return texts;
}

void listAdapters(TCapturePipeline &pipeline) {
  std::printf("%s\n", pipeline.EngineStatusText().c_str());
  const std::vector<std::string> names = pipeline.AdapterNames();
  const std::vector<std::string> descriptions = pipeline.AdapterDescriptions();
  for (size_t i = 0; i < names.size(); ++i) {
    std::string line = std::to_string(i + 1) + ". " + names[i];
    if (i < descriptions.size() && !descriptions[i].empty() && descriptions[i] != names[i])
      line += " (" + descriptions[i] + ")";
    std::vector<std::string> addresses, masks;
    pipeline.AdapterAddresses(int32_t(i), addresses, masks);
    for (size_t k = 0; k < addresses.size(); ++k)
      line += " " + addresses[k] + "/" + (k < masks.size() ? masks[k] : std::string()) + ";";
    std::printf("%s\n", line.c_str());
  }
}

std::optional<int32_t> findFilter(const std::string &name) {
  for (int32_t i = 0; i < IPFilterCount; ++i)
    if (IPFilters[size_t(i)].Name == name)
      return i;
  return std::nullopt;
}

std::string statisticsJson(const TStatisticsView &view, const TCapturePipeline &pipeline) {
  TJsonWriter json;
  json.BeginObject();
  json.Key("summary");
  json.BeginArray();
  const std::string &summary = view.Summary();
  if (!summary.empty()) {
    const size_t lineEnd = summary.find("\r\n");
    json.String(summary.substr(0, lineEnd));
    json.String(lineEnd == std::string::npos ? std::string() : summary.substr(lineEnd + 2));
  }
  json.EndArray();
  const auto rows = [&json](const char *key, const auto &list, const auto &captions) {
    json.Key(key);
    json.BeginArray();
    for (const auto &row : list) {
      json.BeginObject();
      for (size_t column = 0; column < captions.size(); ++column) {
        json.Key(captions[column]);
        json.String(row[column]);
      }
      json.EndObject();
    }
    json.EndArray();
  };
  rows("conversations", view.TrafficRows(), kTrafficCaptions);
  rows("services", view.ServiceRows(), kServiceCaptions);
  json.Key("counters");
  json.BeginObject();
  json.Key("TotSendBytes");
  json.Number(pipeline.TotSendBytes());
  json.Key("TotRecvBytes");
  json.Number(pipeline.TotRecvBytes());
  json.Key("TotSendPackets");
  json.Number(pipeline.TotSendPackets());
  json.Key("TotRecvPackets");
  json.Number(pipeline.TotRecvPackets());
  json.EndObject();
  json.EndObject();
  return json.Text() + "\n";
}

bool writeOutputFile(const std::string &path, const std::string &content, const char *what) {
  if (path == "-") {
    std::fwrite(content.data(), 1, content.size(), stdout);
    return std::fflush(stdout) == 0;
  }
  std::string error;
  if (WriteFileAtomically(path, content, error))
    return true;
  printError(std::string("cannot write the ") + what + " file \"" + path + "\": " + error);
  return false;
}

// "[#######.......]  45%  1,234,567 packets" on one terminal line.
class TProgressBar {
public:
  explicit TProgressBar(const TMonitorPcap &monitor, const TCapturePipeline &pipeline)
      : monitor_(monitor), pipeline_(pipeline) {}
  void Show() {
    const int64_t size = monitor_.FileSize();
    const int64_t read = monitor_.FileBytesRead();
    const int percent = size > 0 ? int(std::min<int64_t>(100, read * 100 / size)) : 0;
    const int filled = percent * kProgressWidth / 100;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(kProgressWidth - filled), '.');
    std::fprintf(stderr, "\r[%s] %3d%%  %s packets", bar.c_str(), percent,
                 GroupDigits(std::to_string(pipeline_.PacketsArrived())).c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  void Erase() {
    if (shown_)
      std::fputs("\r\x1b[K", stderr);
    shown_ = false;
  }

private:
  const TMonitorPcap &monitor_;
  const TCapturePipeline &pipeline_;
  bool shown_ = false;
};

} // namespace

int RunCli(const TCliOptions &options) {
  LoadSystemTextSeparators();
  const std::string settingsFolder = SettingsFolder();
  EnsureFolder(settingsFolder);

  TCapturePipeline pipeline;
  pipeline.InitFilterSubsystem(ExecutableFolder(), settingsFolder);
  if (options.ListFilters) {
    for (int32_t i = 0; i < IPFilterCount; ++i)
      std::printf("%s\n", IPFilters[size_t(i)].Name.c_str());
    return kExitOk;
  }
  const std::optional<int32_t> filterIndex = findFilter(options.FilterName);
  if (!filterIndex)
    return badUsage("no filter is named \"" + options.FilterName +
                    "\" (vantor-cli --list-filters lists them)");
  pipeline.SelectFilter(IPFilters[size_t(*filterIndex)]);

  // Nothing here shows host names, so no reverse lookups go out.
  pipeline.CreateEngines(options.Engine, nullptr);
  if (options.Engine == EEngineChoice::Driver && !pipeline.DriverAvailable()) {
    printError("Cannot load libpcap");
    return kExitFailed;
  }
  const bool readingFile = !options.CaptureFile.empty();
  if (readingFile && !pipeline.DriverAvailable()) {
    printError("Cannot load libpcap: reading a capture file needs it");
    return kExitFailed;
  }
  if (const int32_t failure = pipeline.RefreshAdapters(); failure != 0) {
    printError("cannot list the network adapters: " + std::string(std::strerror(failure)));
    return kExitFailed;
  }
  if (options.ListAdapters) {
    listAdapters(pipeline);
    return kExitOk;
  }

  TCaptureOptions start;
  start.Promiscuous = options.Promiscuous;
  start.IgnoreNonIP = options.IgnoreNonIP;
  start.CaptureFile = options.CaptureFile;
  start.FileMac = options.Mac;
  if (!readingFile) {
    const std::vector<std::string> names = pipeline.AdapterNames();
    start.AdapterIndex = names.empty() ? -1 : 0;
    if (!options.Adapter.empty()) {
      const auto found = std::find(names.begin(), names.end(), options.Adapter);
      if (found == names.end())
        return badUsage("no adapter is named \"" + options.Adapter +
                        "\" (vantor-cli -L lists them)");
      start.AdapterIndex = int32_t(found - names.begin());
    }
  }

  const TSummaryTexts texts = summaryTexts(settingsFolder);
  TStatisticsView view;
  std::unique_ptr<TItemPrinter> printer;
  if (options.Items)
    printer = std::make_unique<TItemPrinter>(STDOUT_FILENO, isatty(STDOUT_FILENO) == 1);
  std::unique_ptr<TDataViewDocument> document;
  if (!options.RtfFile.empty())
    document = std::make_unique<TDataViewDocument>();

  pipeline.OnRefresh = [&view, &texts](TTrafficClass &table) { view.Refresh(table, texts); };
  if (printer || document) {
    pipeline.OnFlush = [&printer, &document](const std::vector<std::string> &items) {
      for (const std::string &item : items) {
        if (printer)
          printer->Print(item);
        if (document)
          document->AppendItem(item);
      }
    };
  }
  if (readingFile)
    pipeline.SetQueueLimit(kFileQueueLimit);
  pipeline.SetPacketLimit(options.PacketCount);

  QCoreApplication *app = QCoreApplication::instance();
  QObject::connect(&pipeline, &TCapturePipeline::QueueFull, &pipeline,
                   [&pipeline] { pipeline.Timer1Timer(); });
  bool stopped = false;
  const auto stop = [&] {
    if (stopped)
      return;
    stopped = true;
    pipeline.StopCapture();
    app->quit();
  };
  QObject::connect(&pipeline, &TCapturePipeline::CaptureFinished, &pipeline, stop);

  const std::string error = pipeline.StartCapture(start);
  if (!error.empty()) {
    printError(error);
    return kExitFailed;
  }
  if (!readingFile)
    printError("capturing on " + pipeline.AdapterNames()[size_t(start.AdapterIndex)] + " (" +
               pipeline.EngineStatusText() + "); ctrl-C stops");

  stopSignalFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (stopSignalFd >= 0) {
    signalNotifier = std::make_unique<QSocketNotifier>(stopSignalFd, QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &pipeline, stop);
    signal(SIGINT, onStopSignal);
    signal(SIGTERM, onStopSignal);
  }

  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &pipeline, [&pipeline] { pipeline.Timer1Timer(); });
  tick.start(kTickMs);
  if (options.Seconds > 0)
    QTimer::singleShot(std::chrono::seconds(options.Seconds), &pipeline, stop);

  std::unique_ptr<TProgressBar> progress;
  QTimer progressTimer;
  if (readingFile && isatty(STDERR_FILENO) == 1) {
    progress = std::make_unique<TProgressBar>(*pipeline.Driver(), pipeline);
    QObject::connect(&progressTimer, &QTimer::timeout, &pipeline,
                     [&progress] { progress->Show(); });
    progressTimer.start(kProgressMs);
  }

  app->exec();
  stop(); // the loop may have ended another way
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signalNotifier.reset();
  if (stopSignalFd >= 0)
    close(stopSignalFd);
  stopSignalFd = -1;
  progressTimer.stop();
  if (progress)
    progress->Erase();

  int status = kExitOk;
  if (const std::string engineError = pipeline.EngineError(); !engineError.empty()) {
    printError(engineError);
    status = kExitFailed;
  }
  if (printer && !printer->Finish()) {
    printError("cannot write the items: " + std::string(std::strerror(errno)));
    status = kExitFailed;
  }
  if (document) {
    std::string saveError;
    if (!SaveRtf(options.RtfFile, *document, saveError)) {
      printError("cannot write the RTF file \"" + options.RtfFile + "\": " + saveError);
      status = kExitFailed;
    }
  }
  if (!options.JsonFile.empty() &&
      !writeOutputFile(options.JsonFile, statisticsJson(view, pipeline), "JSON"))
    status = kExitFailed;
  return status;
}
