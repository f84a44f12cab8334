#include "transfer/owners.hpp"

#include <algorithm>

#include "formats/delphi_stream.hpp"
#include "formats/vb_form_text.hpp"
#include "formats/vb_program.hpp"
#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "transfer/companion.hpp"

namespace falcet {
namespace {

// Names in form streams are UTF-8 in Unicode Delphi, the ANSI code page before it.
std::string nameText(const std::string& raw) {
  return wellFormedUtf8(raw) == raw ? raw : localeToUtf8(raw);
}

template <typename T>
void append(std::vector<T>& to, std::vector<T>&& from) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

std::vector<OwnedRange> delphiStreamOwners(const ByteReader& reader) {
  std::vector<OwnedRange> out;
  for (DelphiBinaryValue& v : delphiBinaryValues(reader)) out.push_back({v.begin, v.end, nameText(v.path)});
  return out;
}

std::vector<OwnedRange> vbCompanionOwners(std::string_view companion, std::string_view blobFileName,
                                          const ByteReader& blobReader) {
  ByteWindow blob(blobReader);
  std::vector<OwnedRange> out;
  for (OwnedReference& r : referencesOf(parseFormText(companion), blobFileName)) {
    // A blob starts with the size of what follows it.
    const auto size = blob.u32(r.ref.offset);
    if (!size) continue;
    const std::int64_t end = std::min<std::int64_t>(r.ref.offset + 4 + std::int64_t{*size}, blob.size());
    out.push_back({r.ref.offset, end, std::move(r.owner)});
  }
  return out;
}

std::vector<OwnedRange> vbProgramOwners(const ByteReader& reader) {
  std::vector<OwnedRange> out;
  for (VbProgramForm& f : vbProgramForms(reader))
    if (!f.name.empty()) out.push_back({f.begin, f.end, std::move(f.name)});
  return out;
}

Owners::Owners(std::vector<OwnedRange> ranges) : m_ranges(std::move(ranges)) {
  std::stable_sort(m_ranges.begin(), m_ranges.end(), [](const OwnedRange& a, const OwnedRange& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
  });
  m_parent.assign(m_ranges.size(), -1);
  std::vector<std::ptrdiff_t> open;  // ranges that may still hold later ones, outermost first
  for (std::size_t i = 0; i < m_ranges.size(); ++i) {
    while (!open.empty() && m_ranges[static_cast<std::size_t>(open.back())].end < m_ranges[i].end) open.pop_back();
    if (!open.empty()) m_parent[i] = open.back();
    open.push_back(static_cast<std::ptrdiff_t>(i));
  }
}

std::optional<std::string> Owners::of(std::int64_t position, std::int64_t length) const {
  // The last range that starts at or before the picture; then outwards through what holds it.
  auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), position,
                             [](std::int64_t pos, const OwnedRange& r) { return pos < r.begin; });
  std::ptrdiff_t i = (it - m_ranges.begin()) - 1;
  while (i >= 0) {
    const OwnedRange& r = m_ranges[static_cast<std::size_t>(i)];
    if (position + length <= r.end) return r.owner;
    i = m_parent[static_cast<std::size_t>(i)];
  }
  return std::nullopt;
}

std::vector<OwnedRange> textFormOwners(const TextForm& form) {
  std::vector<OwnedRange> out;
  for (const TextFormValue& v : form.values)
    if (v.viewBegin >= 0)
      out.push_back({v.viewBegin, v.viewBegin + static_cast<std::int64_t>(v.bytes.size()), nameText(v.path)});
  return out;
}

Owners readOwners(const ByteReader& bytes, const std::string& sourcePath) {
  std::vector<OwnedRange> ranges = delphiStreamOwners(bytes);
  append(ranges, vbProgramOwners(bytes));
  const std::string ext = companionExtension(sourcePath);
  if (!ext.empty()) {
    const auto source = nativePath(sourcePath);
    if (const auto companion = findSiblingWithExtension(source, ext)) {
      if (const auto text = readWholeFile(*companion))
        append(ranges, vbCompanionOwners(*text, utf8Path(source.filename()), bytes));
    }
  }
  return Owners(std::move(ranges));
}

}  // namespace falcet
