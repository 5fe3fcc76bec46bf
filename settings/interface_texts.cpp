#include "settings/interface_texts.h"

#include <cstdlib>
#include <span>

#include <unicode/uloc.h>

namespace {

constexpr int32_t kEnglishUnitedStates = 1033;

void loadTexts(TBaseConfig &lang, std::span<const TTextKey> texts, const TTextSetter &set) {
  for (const TTextKey &text : texts)
    set(text.Control, ReadText(lang, text));
}

std::string_view environmentValue(const char *name) {
  const char *value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

} // namespace

void LoadLanguage(TBaseConfig &lang, const TTextSetter &set) {
  loadTexts(lang, MainWindowTexts, set);
}

void LoadCaptions(TBaseConfig &lang, const TTextSetter &set) {
  loadTexts(lang, FilterDialogTexts, set);
}

std::string ReadText(TBaseConfig &lang, const TTextKey &key) {
  return lang.ReadString(std::string(key.Key), std::string(key.Default));
}

int32_t LanguageIdForLocale(std::string_view localeName) {
  // "de_DE.UTF-8@euro": the charset and the modifier say nothing about the
  // language, and ICU would read "@..." as its own keyword syntax.
  const std::string name(localeName.substr(0, localeName.find_first_of(".@")));
  if (name.empty() || name == "C" || name == "POSIX")
    return kEnglishUnitedStates;
  // An LCID carries a sort order above the low 16 bits; the language
  // identifier is the low word only.
  const int32_t id = static_cast<int32_t>(uloc_getLCID(name.c_str()) & 0xFFFFu);
  return id != 0 ? id : kEnglishUnitedStates;
}

int32_t LanguageIdForEnvironment(std::string_view lcAll, std::string_view lcMessages,
                                 std::string_view lang) {
  for (std::string_view value : {lcAll, lcMessages, lang})
    if (!value.empty())
      return LanguageIdForLocale(value);
  return kEnglishUnitedStates;
}

int32_t SystemLanguageId() {
  return LanguageIdForEnvironment(environmentValue("LC_ALL"), environmentValue("LC_MESSAGES"),
                                  environmentValue("LANG"));
}

std::string ChooseLanguageFile(TBaseConfig &settings, const std::string &dataFolder,
                               int32_t systemLanguageId) {
  // Whatever the user wrote goes into the name unchanged ("en", "2052"), so
  // a hand-made translation can be picked by any name.
  const std::string language = settings.ReadString("LANG", std::to_string(systemLanguageId));
  return dataFolder + "Lang_" + language + ".ini";
}
