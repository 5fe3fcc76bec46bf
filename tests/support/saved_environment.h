#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// Remembers environment variables and puts them back when it goes, so a test
// may set or unset them freely.
class SavedEnvironment {
public:
  explicit SavedEnvironment(std::vector<std::string> names) : names_(std::move(names)) {
    for (const std::string &name : names_) {
      const char *value = std::getenv(name.c_str());
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~SavedEnvironment() {
    for (size_t i = 0; i < names_.size(); ++i)
      Put(names_[i].c_str(), saved_[i]);
  }
  SavedEnvironment(const SavedEnvironment &) = delete;
  SavedEnvironment &operator=(const SavedEnvironment &) = delete;

  // Sets the variable, or unsets it for nullopt.
  static void Put(const char *name, const std::optional<std::string> &value) {
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }

private:
  std::vector<std::string> names_;
  std::vector<std::optional<std::string>> saved_;
};
