#pragma once

#include <string>

// The per-user settings folder, ending in "/": $APPDATA/Vantor/ when APPDATA
// is set and not empty, else $XDG_CONFIG_HOME/Vantor/, else $HOME/.config/Vantor/.
std::string SettingsFolder();
// Creates the folder and any missing parents; false when it cannot.
bool EnsureFolder(const std::string &folder);
