#include "transfer/companion.hpp"

#include <cstdio>

#include "base/ascii.hpp"

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
