#pragma once
// Reads one key of an INI-style settings file the way the Windows profile reader does for the
// calls this program makes. See profile_reader.cpp for the grammar and rules.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace falcet {

// A parsed settings file. Text is UTF-8; values are kept exactly as the file has them
// (trimmed, quotes not yet removed) so that lookups apply the value rules.
class ProfileDocument {
 public:
  struct Entry {
    std::string key;
    std::optional<std::string> value;  // none: a line without "="
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  // Parses bytes of a settings file (a byte-order mark selects UTF-8 or UTF-16; otherwise the
  // locale's character set).
  [[nodiscard]] static ProfileDocument parse(std::string_view bytes);
  // Reads and parses a file; a missing or unreadable file (or a folder) gives an empty document.
  [[nodiscard]] static ProfileDocument load(const std::filesystem::path& path);

  // The value of key in section, after the value rules (outer quotes removed, cut at a NUL,
  // cut to maxBytes in the locale's character set). None when the section or key is missing or
  // the value is empty.
  [[nodiscard]] std::optional<std::string> read(std::string_view section, std::string_view key,
                                                std::size_t maxBytes = 254) const;

  [[nodiscard]] bool hasSection(std::string_view section) const;

 private:
  std::vector<Section> m_sections;
};

// The whole text of a settings file decoded to UTF-8 (byte-order mark honoured).
[[nodiscard]] std::string decodeSettingsText(std::string_view bytes);

}  // namespace falcet
