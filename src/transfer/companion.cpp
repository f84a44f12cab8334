#include "transfer/companion.hpp"

#include <cstdio>

#include "platform/codepage.hpp"
#include "util/ascii.hpp"

namespace falcet {
namespace {

struct BlobExtension {
  std::string_view blob;
  std::string_view companion;
};
constexpr BlobExtension kBlobExtensions[] = {
    {".frx", "frm"}, {".ctx", "ctl"}, {".dsx", "dsr"}, {".pgx", "pag"}, {".dox", "dob"}};

// The last component of a name as a project writes it (either slash).
std::string_view lastComponent(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

std::string upperHex(std::int64_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04llX", static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace

std::optional<std::int64_t> mapOffset(const std::vector<SizeChange>& changes, std::int64_t offset) {
  std::int64_t shift = 0;
  for (const SizeChange& c : changes) {
    if (offset <= c.position) break;
    if (offset < c.position + c.oldLength) return std::nullopt;
    shift += c.newLength - c.oldLength;
  }
  return offset + shift;
}

bool isVbBlobFileName(std::string_view name) { return !companionExtension(name).empty(); }

std::string companionExtension(std::string_view blobName) {
  for (const BlobExtension& e : kBlobExtensions)
    if (endsWithIgnoreCaseAscii(blobName, e.blob)) return std::string(e.companion);
  return {};
}

// The references' grammar: '"' name '"' ':' hexdigit+ , the name on one line. A '"' byte is
// never the second byte of a double-byte character in the character sets VB used (Big5, GBK,
// Shift-JIS all start their second bytes at 0x40), so the bytes can be read as they are.
CompanionRewrite rewriteCompanion(std::string_view text, std::string_view blobFileName,
                                  const std::vector<SizeChange>& changes) {
  CompanionRewrite r;
  r.text.reserve(text.size());
  const std::string_view wanted = lastComponent(blobFileName);
  std::size_t copied = 0;
  std::size_t open = text.find('"');
  while (open != std::string_view::npos) {
    const std::size_t close = text.find_first_of("\"\r\n", open + 1);
    if (close == std::string_view::npos) break;
    if (text[close] != '"') {
      open = text.find('"', close);
      continue;
    }
    std::size_t digits = close + 1;
    if (digits < text.size() && text[digits] == ':') ++digits;
    std::size_t end = digits;
    while (end < text.size() && hexDigitValue(text[end]) >= 0) ++end;
    const std::string name = localeToUtf8(text.substr(open + 1, close - open - 1));
    if (digits == close + 2 && end > digits && end - digits <= 8 &&
        equalsIgnoreCaseAscii(lastComponent(name), wanted)) {
      ++r.references;
      std::int64_t offset = 0;
      for (std::size_t i = digits; i < end; ++i) offset = offset * 16 + hexDigitValue(text[i]);
      const auto moved = mapOffset(changes, offset);
      if (!moved) ++r.unmapped;
      if (moved && *moved != offset) {
        ++r.moved;
        r.text.append(text.substr(copied, digits - copied));
        r.text += upperHex(*moved);
        copied = end;
      }
      open = text.find('"', end);
      continue;
    }
    open = text.find('"', close + 1);
  }
  r.text.append(text.substr(copied));
  return r;
}

}  // namespace falcet
