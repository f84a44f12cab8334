#pragma once
// Access to the program's settings file (module INI檔案讀寫): which file, which section is
// current, and reading one key with a default. The file is only ever read.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "settings/profile_reader.hpp"
#include "base/ascii.hpp"

namespace falcet {

class IniFile {
 public:
  // programFolder and programName stand for the running program's folder and file name
  // (without extension); productName is used when the name is empty.
  IniFile(std::filesystem::path programFolder, std::string programName,
          std::string productName = "Falcet");

  // Fixes the settings file on the first call of a run (folder + baseName + ".ini") and makes
  // section current. Both empty: a reset, after which the next call fixes the file again.
  // An empty baseName is filled in (program name, else product name).
  void IniSelect(std::string& baseName, std::string_view section);
  void IniSelect(std::string_view baseName, std::string_view section) {
    std::string b(baseName);
    IniSelect(b, section);
  }

  // The value of key in section (empty section: the current one), or defaultValue when the key
  // is missing or empty. Values are cut to 254 bytes in the locale's character set.
  [[nodiscard]] std::string IniRead(std::string_view key, std::string_view defaultValue,
                                    std::string_view section = {});

  // True when the settings file has a section of that name.
  [[nodiscard]] bool hasSection(std::string_view section);

  // Chooses the file directly (the command line's --settings); IniSelect then keeps it.
  void useFile(std::filesystem::path path);

  [[nodiscard]] const std::filesystem::path& IniFilePath() const { return m_iniFilePath; }
  [[nodiscard]] const std::string& IniSection() const { return m_iniSection; }

 private:
  const ProfileDocument& document();

  std::filesystem::path m_programFolder;
  std::string m_programName;
  std::string m_productName;
  std::filesystem::path m_iniFilePath;
  std::string m_iniSection;
  std::optional<ProfileDocument> m_document;
  std::filesystem::path m_documentPath;
};

}  // namespace falcet
