#include "settings/form_placement.h"

#include "packet/number_parse.h"
#include "packet/text_trim.h"
#include "settings/atomic_file.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <unistd.h>
#include <utility>

namespace {

// Edges read from a file can be anything a 32-bit integer holds; the sums
// below are done in 64 bits and brought back, so a silly file gives a silly
// but defined rectangle.
int saturate(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

bool equalNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

TPoint MagnetPosition(TPoint proposed, int width, int height, TRect workArea, int magnetDistance) {
  int64_t x = proposed.X;
  int64_t y = proposed.Y;
  const int64_t distance = magnetDistance;
  if (x < workArea.Left + distance || x < workArea.Left)
    x = workArea.Left;
  if (y < workArea.Top + distance || y < workArea.Top)
    y = workArea.Top;
  if (y + height > workArea.Bottom - distance)
    y = int64_t(workArea.Bottom) - height;
  if (x + width > workArea.Right - distance)
    x = int64_t(workArea.Right) - width;
  return {saturate(x), saturate(y)};
}

TRect ClampToVirtualScreen(TRect bounds, int virtualWidth, int virtualHeight) {
  if (bounds.Right > virtualWidth) {
    bounds.Left = saturate(int64_t(bounds.Left) - (int64_t(bounds.Right) - virtualWidth));
    bounds.Right = virtualWidth;
  }
  if (bounds.Bottom > virtualHeight) {
    bounds.Top = saturate(int64_t(bounds.Top) - (int64_t(bounds.Bottom) - virtualHeight));
    bounds.Bottom = virtualHeight;
  }
  return bounds;
}

TPlacement RestoredPlacement(const TSavedPlacement &saved, const TPlacement &current,
                             bool savePosition, bool saveSize, int virtualWidth,
                             int virtualHeight) {
  TRect bounds = current.Bounds;
  if (savePosition) {
    bounds.Left = saved.Left.value_or(bounds.Left);
    bounds.Top = saved.Top.value_or(bounds.Top);
  }
  if (saveSize) {
    bounds.Right = saved.Right.value_or(bounds.Right);
    bounds.Bottom = saved.Bottom.value_or(bounds.Bottom);
  } else {
    const TRect &now = current.Bounds;
    bounds.Right = saturate(int64_t(bounds.Left) + (int64_t(now.Right) - now.Left));
    bounds.Bottom = saturate(int64_t(bounds.Top) + (int64_t(now.Bottom) - now.Top));
  }
  const bool maximized = saved.Maximized ? *saved.Maximized != 0 : current.Maximized;
  bounds = ClampToVirtualScreen(bounds, virtualWidth, virtualHeight);
  if (maximized)
    bounds = {0, 0, virtualWidth, virtualHeight};
  return {bounds, maximized};
}

std::string SectionName(const std::string &saveKey, bool saveUser, bool saveMachine,
                        const std::string &userName, const std::string &computerName) {
  std::string name = saveKey;
  if (saveUser)
    name += "-" + userName;
  if (saveMachine)
    name += "-" + computerName;
  return name;
}

std::string SectionName(const std::string &saveKey, bool saveUser, bool saveMachine) {
  return SectionName(saveKey, saveUser, saveMachine, saveUser ? LogonUserName() : "",
                     saveMachine ? ComputerName() : "");
}

std::string LogonUserName() {
  const passwd *entry = getpwuid(geteuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0)
    return "";
  return name;
}

void TProfileIni::LoadFromText(std::string_view text) {
  sections_.clear();
  sections_.push_back({false, "", {}});
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end;
    if (start < text.size() && text[start++] == '\r' && start < text.size() && text[start] == '\n')
      ++start;

    const std::string_view trimmed = TrimControl(line);
    const size_t close = trimmed.find(']');
    if (trimmed.starts_with('[') && close != std::string_view::npos) {
      sections_.push_back({true, std::string(TrimControl(trimmed.substr(1, close - 1))), {}});
      continue;
    }
    const size_t equal = trimmed.find('=');
    if (equal == std::string_view::npos || trimmed.starts_with(';')) {
      sections_.back().Lines.push_back({false, "", "", std::string(line)});
      continue;
    }
    sections_.back().Lines.push_back({true, std::string(TrimControl(trimmed.substr(0, equal))),
                                      std::string(TrimControl(trimmed.substr(equal + 1))), ""});
  }
}

bool TProfileIni::LoadFromFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    LoadFromText("");
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    LoadFromText("");
    return false;
  }
  LoadFromText(text);
  return true;
}

std::string TProfileIni::SaveText() const {
  std::string text;
  for (const TSection &section : sections_) {
    if (section.HasHeader)
      text += "[" + section.Name + "]\n";
    for (const TLine &line : section.Lines)
      text += (line.IsEntry ? line.Key + "=" + line.Value : line.Raw) + "\n";
  }
  return text;
}

bool TProfileIni::SaveToFile(const std::string &path) const {
  std::string error;
  return WriteFileAtomically(path, SaveText(), error);
}

const TProfileIni::TSection *TProfileIni::findSection(std::string_view name) const {
  for (const TSection &section : sections_)
    if (section.HasHeader && equalNoCase(section.Name, name))
      return &section;
  return nullptr;
}

TProfileIni::TSection *TProfileIni::findSection(std::string_view name) {
  return const_cast<TSection *>(std::as_const(*this).findSection(name));
}

std::optional<std::string> TProfileIni::ReadString(std::string_view section,
                                                   std::string_view key) const {
  const TSection *found = findSection(section);
  if (!found)
    return std::nullopt;
  for (const TLine &line : found->Lines)
    if (line.IsEntry && equalNoCase(line.Key, key))
      return line.Value;
  return std::nullopt;
}

std::optional<int32_t> TProfileIni::ReadInteger(std::string_view section,
                                                std::string_view key) const {
  const std::optional<std::string> text = ReadString(section, key);
  if (!text)
    return std::nullopt;
  return StrictInteger(*text);
}

void TProfileIni::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (sections_.empty())
    sections_.push_back({false, "", {}});
  TSection *found = findSection(section);
  if (!found) {
    sections_.push_back({true, std::string(section), {}});
    found = &sections_.back();
  }
  for (TLine &line : found->Lines)
    if (line.IsEntry && equalNoCase(line.Key, key)) {
      line.Value = value;
      return;
    }
  // A new key goes after the section's last non-blank line, so the blank
  // line that separates it from the next section stays where it is.
  auto where = found->Lines.end();
  while (where != found->Lines.begin()) {
    const TLine &previous = *(where - 1);
    if (previous.IsEntry || !TrimControl(previous.Raw).empty())
      break;
    --where;
  }
  found->Lines.insert(where, {true, std::string(key), std::string(value), ""});
}

void TProfileIni::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

TSavedPlacement ReadPlacement(const TProfileIni &ini, const std::string &section) {
  return {ini.ReadInteger(section, "Left"), ini.ReadInteger(section, "Top"),
          ini.ReadInteger(section, "Right"), ini.ReadInteger(section, "Bottom"),
          ini.ReadInteger(section, "Maximized")};
}

TSavedPlacement LoadPlacement(const std::string &path, const std::string &section) {
  TProfileIni ini;
  ini.LoadFromFile(path);
  return ReadPlacement(ini, section);
}

void WritePlacement(TProfileIni &ini, const std::string &section, const TPlacement &normal,
                    bool savePosition, bool saveSize) {
  if (savePosition) {
    ini.WriteInteger(section, "Left", normal.Bounds.Left);
    ini.WriteInteger(section, "Top", normal.Bounds.Top);
  }
  if (saveSize) {
    ini.WriteInteger(section, "Right", normal.Bounds.Right);
    ini.WriteInteger(section, "Bottom", normal.Bounds.Bottom);
    ini.WriteString(section, "Maximized", normal.Maximized ? "1" : "0");
  }
}

bool StorePlacement(const std::string &path, const std::string &section, const TPlacement &normal,
                    bool savePosition, bool saveSize) {
  TProfileIni ini;
  ini.LoadFromFile(path);
  WritePlacement(ini, section, normal, savePosition, saveSize);
  return ini.SaveToFile(path);
}
