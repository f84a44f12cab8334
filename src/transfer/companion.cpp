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

std::string_view lastNameComponent(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

std::optional<CompanionReference> findReference(std::string_view text, std::size_t from) {
  std::size_t open = text.find('"', from);
  while (open != std::string_view::npos) {
    const std::size_t close = text.find_first_of("\"\r\n", open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    if (text[close] != '"') {
      open = text.find('"', close);
      continue;
    }
    std::size_t digits = close + 1;
    if (digits < text.size() && text[digits] == ':') ++digits;
    std::size_t end = digits;
    while (end < text.size() && hexDigitValue(text[end]) >= 0) ++end;
    if (digits == close + 2 && end > digits && end - digits <= 8) {
      CompanionReference r;
      r.file = std::string(lastNameComponent(localeToUtf8(text.substr(open + 1, close - open - 1))));
      for (std::size_t i = digits; i < end; ++i) r.offset = r.offset * 16 + hexDigitValue(text[i]);
      r.digitsBegin = digits;
      r.digitsEnd = end;
      return r;
    }
    open = text.find('"', close + 1);
  }
  return std::nullopt;
}

CompanionRewrite rewriteCompanion(std::string_view text, std::string_view blobFileName,
                                  const std::vector<SizeChange>& changes) {
  CompanionRewrite r;
  r.text.reserve(text.size());
  const std::string_view wanted = lastNameComponent(blobFileName);
  std::size_t copied = 0;
  for (auto ref = findReference(text, 0); ref; ref = findReference(text, ref->digitsEnd)) {
    if (!equalsIgnoreCaseAscii(ref->file, wanted)) continue;
    ++r.references;
    const auto moved = mapOffset(changes, ref->offset);
    if (!moved) ++r.unmapped;
    if (moved && *moved != ref->offset) {
      ++r.moved;
      r.text.append(text.substr(copied, ref->digitsBegin - copied));
      r.text += upperHex(*moved);
      copied = ref->digitsEnd;
    }
  }
  r.text.append(text.substr(copied));
  return r;
}

}  // namespace falcet
