// The settings file reader.
//
// Grammar, line by line (a line ends at CR, LF or CR LF; "blank" is space or tab):
//
//   line     := blank* ( comment | header | pair | key ) blank*
//   comment  := ";" anything            (only when ";" is the first non-blank character)
//   header   := "[" name [ "]" anything ]   (the name ends at the first "]"; without one the
//                                            rest of the line is the name)
//   pair     := key "=" value           (the first "=" splits; later ones belong to the value)
//   key      := any text without "="     (a line without "=" is a key with no value)
//
// Rules:
// - Section and key names are trimmed of blanks and compare case-insensitively (ASCII letters).
//   The first section with a name is the one searched, and in it the first matching key wins;
//   lines before the first header belong to no section and are never found.
// - Values are trimmed of blanks; then one pair of matching outer quotes (both " or both ') is
//   removed. A NUL ends the value. An empty value counts as no value.
// - A value is cut to 254 bytes in the locale's character set, never inside a character.
// - "#" is ordinary text.
// - The file is decoded from the locale's character set, or as UTF-8 / UTF-16 when it starts with
//   that byte-order mark. Decoding happens before parsing, so a double-byte character whose
//   second byte is "]" or "=" never ends a name.
// - A missing file, a folder, or a file that cannot be read is an empty document: every read gives
//   the caller's default.
// Nothing here fails loudly; there are no error messages.

#include "settings/profile_reader.hpp"

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "base/ascii.hpp"
#include "base/lines.hpp"

namespace falcet {

std::string decodeSettingsText(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return charsetToUtf8(bytes.substr(3), "UTF-8");
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
    return charsetToUtf8(bytes.substr(2), "UTF-16LE");
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
    return charsetToUtf8(bytes.substr(2), "UTF-16BE");
  return localeToUtf8(bytes);
}

ProfileDocument ProfileDocument::parse(std::string_view bytes) {
  const std::string text = decodeSettingsText(bytes);
  ProfileDocument doc;
  Section* current = nullptr;
  for (std::string_view raw : splitLines(text)) {
    std::string_view line = trimBlanks(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      std::size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      doc.m_sections.push_back(Section{std::string(trimBlanks(name)), {}});
      current = &doc.m_sections.back();
      continue;
    }
    if (!current) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      current->entries.push_back(Entry{std::string(line), std::nullopt});
    } else {
      current->entries.push_back(
          Entry{std::string(trimBlanks(line.substr(0, eq))), std::string(trimBlanks(line.substr(eq + 1)))});
    }
  }
  return doc;
}

ProfileDocument ProfileDocument::load(const std::filesystem::path& path) {
  auto bytes = readWholeFile(path);
  if (!bytes) return {};
  return parse(*bytes);
}

bool ProfileDocument::hasSection(std::string_view section) const {
  for (const Section& s : m_sections)
    if (equalsIgnoreCaseAscii(s.name, trimBlanks(section))) return true;
  return false;
}

std::optional<std::string> ProfileDocument::read(std::string_view section, std::string_view key,
                                                 std::size_t maxBytes) const {
  const std::string_view wantSection = trimBlanks(section);
  const std::string_view wantKey = trimBlanks(key);
  for (const Section& s : m_sections) {
    if (!equalsIgnoreCaseAscii(s.name, wantSection)) continue;
    for (const Entry& e : s.entries) {
      if (!equalsIgnoreCaseAscii(e.key, wantKey)) continue;
      if (!e.value) return std::nullopt;
      std::string_view v = *e.value;
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      std::size_t nul = v.find('\0');
      if (nul != std::string_view::npos) v = v.substr(0, nul);
      std::string cut = cutToLocaleBytes(v, maxBytes);
      if (cut.empty()) return std::nullopt;
      return cut;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace falcet
