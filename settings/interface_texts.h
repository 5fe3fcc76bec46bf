#pragma once

#include "settings/file_config.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// One translatable text: the language-file key, the English text shown when
// the file lacks the key, and the object name of the control that shows it.
struct TTextKey {
  std::string_view Key;
  std::string_view Default;
  std::string_view Control;
};

// The main window's captions, in the order they are read. The order matters:
// a language file created on first run lists its keys in this order, which is
// what translators see. Some keys keep historical spellings ("btAapterList",
// "PgInfo") because existing translated files use them.
inline constexpr std::array<TTextKey, 24> MainWindowTexts{{
    {"Form_Caption", "Vantor", "frmMain"},
    {"ToolBarTbMain_Caption", "Main", "tbMainToolBar"},
    {"PgInfo_Caption", "Capture Info", "pgInfo"},
    {"pgDataAll_Caption", "View Data", "pgDataAll"},
    {"pgAbout_Caption", "About", "pgAbout"},
    {"barMain_Caption", "Main Tool Bar", "barMain"},
    {"barTask_Caption", "Task Info", "barTask"},
    {"barFilter_Caption", "Filter", "barFilter"},
    {"barEdit_Caption", "Edit", "barEdit"},
    {"btAapterList_Caption", "Network Adapters", "btListAdapter"},
    {"btStart_Caption", "&Start Capture", "btStart"},
    {"btStop_Caption", "S&top", "btStop"},
    {"btIgnorNonIP_Caption", "Ignor Non IP", "btIgnorNonIP"},
    {"btPromiscuous_Caption", "Promiscuous", "btPromiscuous"},
    {"btFilterNew_Caption", "Create Filter", "btFilterNew"},
    {"btFEdit_Caption", "Edit Filter", "btFEdit"},
    {"btFList_Caption", "Filter List", "btFList"},
    {"btFApply_Caption", "Apply Filter", "btFApply"},
    {"btClear_Caption", "&Clear Log", "btClear"},
    {"btSave_Caption", "S&ave to File", "btSave"},
    {"btAbout_Caption", "&About", "btAbout"},
    {"glbTrf_Caption", "Traffic:", "glbTrf"},
    {"glbNetCard_Caption", "Network Adapter", "glbNetCard"},
    {"glbDV_Caption", "Data View", "glbDV"},
}};

// The filter editor dialog's captions, in the order they are read. The
// misspelt defaults are kept: translated files were made against them.
inline constexpr std::array<TTextKey, 16> FilterDialogTexts{{
    {"fmFilter_pgGen_Caption", "General", "pgGen"},
    {"fmFilter_pgCF_Caption", "Custom Filters", "pgCF"},
    {"fmFilter_gpName_Caption", "Name", "gpName"},
    {"fmFilter_gpPackage_Caption", "Package Type", "gpPackage"},
    {"fmFilter_gpIP_Caption", "IP Source and Destication", "gpIP"},
    {"fmFilter_gpCF_Caption", "Custom Filters", "gpCF"},
    {"fmFilter_lbSIP_Caption", "Source IP", "lbSIP"},
    {"fmFilter_lbDIP_Caption", "Dest IP", "lbDIP"},
    {"fmFilter_lbSPort_Caption", "Source Port", "lbSPort"},
    {"fmFilter_lbDPort_Caption", "Dest Port", "lbDPort"},
    {"fmFilter_chkIgZero_Caption", "Igron zero length package (Control Package)", "chkIgZero"},
    {"fmFilter_chkReturn_Caption", "Return packages from  Dest IP and Port", "chkReturn"},
    {"fmFilter_lbF_Caption", "Apply Filters", "lbF"},
    {"fmFilter_lbAF_Caption", "Avaliable Filters", "lbAF"},
    {"fmFilter_btOK_Caption", "&OK", "btOK"},
    {"fmFilter_btCancel_Caption", "&Cancel", "btCancel"},
}};

// Pieces of composed messages, read each time the message is built.
inline constexpr TTextKey kStrBySend{"STR_BYSEND", "Bytes Sent", "LabelTraffic"};
inline constexpr TTextKey kStrRec{"STR_REC", "Received", "LabelTraffic"};
inline constexpr TTextKey kStrPackSend{"STR_PACKSEND", "Package Sent", "LabelTraffic"};
inline constexpr TTextKey kGlbDVCaption{"glbDV_Caption", "Data View", "glbDV"};

// Receives one text for the control of that object name.
using TTextSetter = std::function<void(std::string_view control, const std::string &text)>;

// Reads the main window's captions in table order and hands each to `set`.
void LoadLanguage(TBaseConfig &lang, const TTextSetter &set);
// Reads the filter dialog's captions in table order and hands each to `set`.
void LoadCaptions(TBaseConfig &lang, const TTextSetter &set);
// One text, its default recorded in the store when the key is missing.
std::string ReadText(TBaseConfig &lang, const TTextKey &key);

// The Windows language identifier of a POSIX locale name such as
// "de_DE.UTF-8@euro"; 1033 for "C", "POSIX", an empty name or one ICU
// does not know.
int32_t LanguageIdForLocale(std::string_view localeName);
// The same for the locale variables' values, the first non-empty one of
// LC_ALL, LC_MESSAGES and LANG deciding.
int32_t LanguageIdForEnvironment(std::string_view lcAll, std::string_view lcMessages,
                                 std::string_view lang);
// The identifier of this process's locale, from its environment.
int32_t SystemLanguageId();

// The language file's path: dataFolder + "Lang_" + the "LANG" setting +
// ".ini", the setting defaulting to (and recorded as) the decimal system id.
std::string ChooseLanguageFile(TBaseConfig &settings, const std::string &dataFolder,
                               int32_t systemLanguageId);
