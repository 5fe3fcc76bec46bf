#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Screen rectangles in pixels; Right and Bottom lie one past the last pixel,
// so width = Right - Left.
struct TRect {
  int Left, Top, Right, Bottom;
  bool operator==(const TRect &) const = default;
};

struct TPoint {
  int X, Y;
  bool operator==(const TPoint &) const = default;
};

// A window's normal rectangle together with its maximized state.
struct TPlacement {
  TRect Bounds;
  bool Maximized;
  bool operator==(const TPlacement &) const = default;
};

// Snaps a window of the given size, about to move to `proposed`, to the edges
// of the work area when it comes within `magnetDistance` of them. The left and
// top tests run before the bottom and right ones, so a window larger than the
// work area ends up aligned to the right and bottom edges.
TPoint MagnetPosition(TPoint proposed, int width, int height, TRect workArea, int magnetDistance);

// Pulls a rectangle that reaches beyond the right or bottom edge of the
// virtual screen back inside by shifting it; the left and top edges are
// deliberately not corrected, so a window on a monitor left of or above the
// primary one keeps its place.
TRect ClampToVirtualScreen(TRect bounds, int virtualWidth, int virtualHeight);

// The values of one placement section; a key that is absent or not an
// integer is empty.
struct TSavedPlacement {
  std::optional<int32_t> Left, Top, Right, Bottom, Maximized;
};

// Where a window goes on restore: the saved edges where the Save* switches
// allow them, the current ones otherwise, kept inside the virtual screen; a
// maximized window gets the whole virtual screen as its bounds.
TPlacement RestoredPlacement(const TSavedPlacement &saved, const TPlacement &current,
                             bool savePosition, bool saveSize, int virtualWidth, int virtualHeight);

// Section name: the key, then "-" + user when `saveUser`, then "-" + host
// when `saveMachine`.
std::string SectionName(const std::string &saveKey, bool saveUser, bool saveMachine,
                        const std::string &userName, const std::string &computerName);
// The same with the log-on name of the effective user and the host name.
std::string SectionName(const std::string &saveKey, bool saveUser, bool saveMachine);
std::string LogonUserName();
std::string ComputerName();

// A profile-string INI file: "[section]" headers and "Key=Value" lines.
// Sections and keys are matched without regard to ASCII case, first match
// wins. Lines this class does not interpret (comments, blank lines, lines
// without "=") and every section and key it is not asked about survive a
// rewrite unchanged.
class TProfileIni {
public:
  // Lines end at LF, CR LF or a lone CR. Replaces the content.
  void LoadFromText(std::string_view text);
  // False when the file is missing or unreadable; the content is then empty.
  bool LoadFromFile(const std::string &path);
  std::string SaveText() const;
  // Replaces the file atomically; false when it cannot be written.
  bool SaveToFile(const std::string &path) const;

  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  // Empty when the key is missing or its value is not one 32-bit integer.
  std::optional<int32_t> ReadInteger(std::string_view section, std::string_view key) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);

private:
  struct TLine {
    bool IsEntry;
    std::string Key;   // entries only
    std::string Value; // entries only
    std::string Raw;   // everything else, verbatim
  };
  struct TSection {
    bool HasHeader; // false only for lines before the first header
    std::string Name;
    std::vector<TLine> Lines;
  };

  const TSection *findSection(std::string_view name) const;
  TSection *findSection(std::string_view name);

  std::vector<TSection> sections_;
};

// Reads the placement keys of `section`; a missing file or section leaves
// every value empty.
TSavedPlacement LoadPlacement(const std::string &path, const std::string &section);
// Reads `ini` into a placement.
TSavedPlacement ReadPlacement(const TProfileIni &ini, const std::string &section);
// Writes Left and Top when `savePosition`, Right, Bottom and Maximized when
// `saveSize`.
void WritePlacement(TProfileIni &ini, const std::string &section, const TPlacement &normal,
                    bool savePosition, bool saveSize);
// Updates the section in the file, keeping everything else in it; false when
// the file cannot be written.
bool StorePlacement(const std::string &path, const std::string &section, const TPlacement &normal,
                    bool savePosition, bool saveSize);
