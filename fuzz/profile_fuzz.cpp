// The settings reader on arbitrary bytes, under a UTF-8 and a Big5 locale (the first byte
// chooses): parsing, reading every section and key the text seems to name, and the same reads
// through IniFile from a file. Values must fit the byte limit, hold no NUL, and come back as UTF-8 when converted.

#include <clocale>
#include <cstdint>

#include "fuzz_support.hpp"
#include "platform/codepage.hpp"
#include "settings/ini_file.hpp"
#include "settings/profile_reader.hpp"

using namespace falcet;

namespace {

bool validUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Names between "[" and "]" and before "=" in the decoded text, a few of each.
void collectNames(std::string_view text, std::vector<std::string>& sections,
                  std::vector<std::string>& keys) {
  std::size_t lineStart = 0;
  while (lineStart < text.size() && sections.size() + keys.size() < 32) {
    std::size_t end = text.find('\n', lineStart);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(lineStart, end - lineStart);
    if (auto open = line.find('['); open != std::string_view::npos) {
      auto close = line.find(']', open);
      sections.emplace_back(line.substr(open + 1, close == std::string_view::npos ? line.npos : close - open - 1));
    }
    if (auto eq = line.find('='); eq != std::string_view::npos) keys.emplace_back(line.substr(0, eq));
    lineStart = end + 1;
  }
  sections.emplace_back("Falcet");
  keys.emplace_back("001");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool big5 = data[0] & 1;
  if (!std::setlocale(LC_ALL, big5 ? "zh_TW.BIG5" : "C.UTF-8")) std::setlocale(LC_ALL, "C.UTF-8");
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const ProfileDocument doc = ProfileDocument::parse(bytes);
  std::vector<std::string> sections, keys;
  collectNames(decodeSettingsText(bytes), sections, keys);

  const auto file = fuzz::scratchFolder() / "Falcet.ini";
  fuzz::writeFileBytes(file, bytes);
  IniFile ini(fuzz::scratchFolder(), "Falcet");
  ini.useFile(file);
  std::string base;
  ini.IniSelect(base, "Falcet");

  for (const auto& s : sections) {
    const bool has = doc.hasSection(s);
    fuzz::check(has == ini.hasSection(s), "file and bytes disagree on a section");
    for (const auto& k : keys) {
      auto value = doc.read(s, k);
      if (value) {
        fuzz::check(!value->empty(), "an empty value was returned");
        fuzz::check(has, "a value from a missing section");
        // Under a UTF-8 locale bytes pass through as they stand (a marker keeps its raw bytes);
        // from any other character set they are converted, so the result must be UTF-8.
        if (big5) fuzz::check(validUtf8(*value), "a converted value is not UTF-8");
        fuzz::check(utf8ToLocale(*value).size() <= 254, "a value is longer than the limit");
        fuzz::check(value->find('\0') == std::string::npos, "a value holds a NUL");
      }
      if (s.empty()) continue;  // IniRead takes an empty section as the current one
      const std::string viaIni = ini.IniRead(k, "\x01", s);
      fuzz::check(viaIni == (value ? *value : std::string("\x01")), "IniRead differs from the document");
    }
  }
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}
