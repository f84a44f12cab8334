#include "transfer/picture_kind.hpp"

#include <cstdio>
#include <cstring>

#include "platform/codepage.hpp"
#include "texts/texts.hpp"
#include "base/ascii.hpp"
#include "util/number.hpp"

namespace falcet {
namespace {

constexpr const char* kBaseName = "Falcet";

std::string listKey(int i) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03d", i);
  return buf;
}

}  // namespace

std::optional<std::string> parseHexBytes(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (isBlankAscii(text[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int hi = hexDigitValue(text[i]), lo = hexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::optional<std::vector<LenField>> parseLenFields(std::string_view text) {
  std::vector<LenField> fields;
  std::size_t i = 0;
  while (i < text.size()) {
    if (isBlankAscii(text[i]) || text[i] == ',') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !isBlankAscii(text[end]) && text[end] != ',') ++end;
    const std::string_view pair = text.substr(i, end - i);
    const std::size_t colon = pair.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::size_t second = pair.find(':', colon + 1);
    const auto offset = parseInteger(pair.substr(0, colon));
    const auto difference = parseInteger(pair.substr(colon + 1, second == std::string_view::npos ? std::string_view::npos : second - colon - 1));
    if (!offset || !difference) return std::nullopt;
    LenField field{*offset, *difference, 0, {}};
    if (second != std::string_view::npos) {
      const std::string_view guard = pair.substr(second + 1);
      const std::size_t eq = guard.find('=');
      if (eq == std::string_view::npos) return std::nullopt;
      const auto guardOffset = parseInteger(guard.substr(0, eq));
      auto bytes = parseHexBytes(guard.substr(eq + 1));
      if (!guardOffset || !bytes || bytes->empty()) return std::nullopt;
      field.guardOffset = *guardOffset;
      field.guard = std::move(*bytes);
    }
    fields.push_back(std::move(field));
    i = end;
  }
  return fields;
}

KindsLoadResult LoadPictureKinds(IniFile& ini, PictureKinds& table) {
  ini.IniSelect(kBaseName, "Falcet");
  int count = 0;
  for (int i = 1; i <= 999; ++i) {
    if (ini.IniRead(listKey(i), "").empty()) break;
    count = i;
  }
  if (count < 1) return {};

  PictureKinds loaded(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) {
    ini.IniSelect(kBaseName, "Falcet");
    const std::string name = ini.IniRead(listKey(i), "");
    ini.IniSelect(kBaseName, name);
    if (!ini.hasSection(name))
      return {KindsLoadResult::Status::MissingSection, name, ""};
    PictureKind& k = loaded[static_cast<std::size_t>(i - 1)];
    k.Name = name;
    const std::string hex = ini.IniRead("FileHandleMarkHex", "");
    if (!hex.empty()) {
      auto bytes = parseHexBytes(hex);
      if (!bytes) return {KindsLoadResult::Status::BadKey, name, "FileHandleMarkHex"};
      k.FileHandleMark = *bytes;
    } else {
      k.FileHandleMark = utf8ToLocale(ini.IniRead("FileHandleMark", ""));
    }
    struct IntKey {
      const char* key;
      std::int32_t* field;
      bool optional;
    };
    const IntKey keys[] = {{"FilePosFix", &k.FilePosFix, false},
                           {"FileLenPos", &k.FileLenPos, false},
                           {"BinFileLenPos", &k.BinFileLenPos, false},
                           {"DfmBlockLenPos", &k.DfmBlockLenPos, false},
                           {"DfmBlockLenFix", &k.DfmBlockLenFix, false},
                           {"BinFileLenFix", &k.BinFileLenFix, true}};
    for (const IntKey& key : keys) {
      const std::string text = ini.IniRead(key.key, "");
      if (text.empty() && key.optional) continue;
      auto v = parseInteger(text);
      if (!v) return {KindsLoadResult::Status::BadKey, name, key.key};
      *key.field = *v;
    }
    k.FileExt = ini.IniRead("FileExt", "");
    auto lenFields = parseLenFields(ini.IniRead("EnclosingLenFields", ""));
    if (!lenFields) return {KindsLoadResult::Status::BadKey, name, "EnclosingLenFields"};
    k.EnclosingLenFields = std::move(*lenFields);
    const std::string accept = ini.IniRead("AcceptFormats", "");
    for (std::size_t at = 0; at < accept.size();) {
      std::size_t end = accept.find_first_of(", \t", at);
      if (end == std::string::npos) end = accept.size();
      if (end > at) k.AcceptFormats.push_back(toLowerAscii(std::string_view(accept).substr(at, end - at)));
      at = end + 1;
    }
  }
  table = std::move(loaded);
  return {KindsLoadResult::Status::Loaded, "", ""};
}

std::string describeKindsError(const KindsLoadResult& result,
                               const std::filesystem::path& settingsFile) {
  const std::string file = utf8Path(settingsFile);
  switch (result.status) {
    case KindsLoadResult::Status::Loaded: return {};
    case KindsLoadResult::Status::NoKinds: return std::string(texts::kStartupError);
    case KindsLoadResult::Status::MissingSection:
      return texts::settingsMissingSection(file, result.section);
    case KindsLoadResult::Status::BadKey:
      return texts::settingsBadKey(file, result.section, result.key);
  }
  return {};
}

}  // namespace falcet
