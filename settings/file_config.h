#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A small key=value store bound to one text file. Reading a key that is not
// there records it with the caller's default, so a saved file lists every key
// the program asked for.
class TBaseConfig {
public:
  virtual ~TBaseConfig() = default;
  virtual void SetFileName(const std::string &path) = 0;
  virtual std::string GetFileName() const = 0;
  // 0 on success, -1 when the file is missing or unreadable.
  virtual int Load() = 0;
  virtual std::string ReadString(const std::string &key, const std::string &defaultValue) = 0;
  virtual int32_t ReadInteger(const std::string &key, int32_t defaultValue) = 0;
  // Always 0.
  virtual int WriteString(const std::string &key, const std::string &value) = 0;
  // 0 on success, -1 on failure (the old file is then left whole).
  virtual int Save() = 0;
  // Frees the store; it must not be used afterwards.
  virtual void Release() { delete this; }
};

// The store over one file: entries in the order loaded or added, first match
// wins, keys compared without regard to case but kept as stored; entries
// whose line begins with "_sys_" live in memory only.
class TFileConfig : public TBaseConfig {
public:
  void SetFileName(const std::string &path) override { FileName = path; }
  std::string GetFileName() const override { return FileName; }
  int Load() override;
  std::string ReadString(const std::string &key, const std::string &defaultValue) override;
  int32_t ReadInteger(const std::string &key, int32_t defaultValue) override;
  int WriteString(const std::string &key, const std::string &value) override;
  int Save() override;

  // Parses file text: lines end at LF or CR LF (a lone CR is dropped), a
  // Ctrl-Z ends the text, lines without "=" are skipped, key and value are
  // trimmed of codes below 33. Replaces the entries.
  void LoadFromText(std::string_view text);
  // The text Save writes: "key=value" CR LF per entry, "_sys_" lines left out.
  std::string SaveText() const;

  std::vector<std::string> Keys;
  std::vector<std::string> Values;
  std::string FileName;

private:
  // Index of the first entry whose key matches, or -1.
  int32_t indexOf(const std::string &key) const;
};
