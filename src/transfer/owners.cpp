#include "transfer/owners.hpp"

#include <algorithm>
#include <cstring>

#include "platform/codepage.hpp"
#include "platform/file_io.hpp"
#include "transfer/companion.hpp"
#include "util/ascii.hpp"

namespace falcet {

bool MemoryReader::read(std::int64_t pos, unsigned char* out, std::size_t n) const {
  if (!fitsIn(m_bytes.size(), pos, n)) return false;
  if (n) std::memcpy(out, m_bytes.data() + pos, n);
  return true;
}

bool FileReader::read(std::int64_t pos, unsigned char* out, std::size_t n) const {
  return pos >= 0 && static_cast<std::uint64_t>(pos) + n <= static_cast<std::uint64_t>(m_size) &&
         readAllAt(m_file, pos, out, n);
}

namespace {

// A reader's bytes at any position: straight from memory, or through a buffer that is refilled
// where the bytes are wanted.
class Window {
 public:
  explicit Window(const ByteReader& reader) : m_reader(reader), m_size(reader.size()), m_memory(reader.memory()) {}

  [[nodiscard]] std::int64_t size() const { return m_size; }

  // n bytes at pos, valid until the next call; nullptr when they are not all there.
  const unsigned char* at(std::int64_t pos, std::size_t n) {
    static const unsigned char kNothing = 0;
    if (pos < 0 || pos > m_size || n > static_cast<std::uint64_t>(m_size - pos)) return nullptr;
    if (n == 0) return &kNothing;
    if (m_memory) return m_memory + pos;
    if (pos < m_start || static_cast<std::uint64_t>(pos - m_start) + n > m_buffer.size()) {
      const auto length = static_cast<std::size_t>(std::min<std::int64_t>(std::max(n, kBuffer), m_size - pos));
      m_buffer.resize(length);
      if (!m_reader.read(pos, m_buffer.data(), length)) {
        m_buffer.clear();
        return nullptr;
      }
      m_start = pos;
    }
    return m_buffer.data() + (pos - m_start);
  }
  std::optional<std::uint8_t> u8(std::int64_t pos) {
    const unsigned char* p = at(pos, 1);
    return p ? std::optional<std::uint8_t>(*p) : std::nullopt;
  }
  std::optional<std::uint16_t> u16(std::int64_t pos) {
    const unsigned char* p = at(pos, 2);
    return p ? std::optional<std::uint16_t>(loadU16le(p)) : std::nullopt;
  }
  std::optional<std::uint32_t> u32(std::int64_t pos) {
    const unsigned char* p = at(pos, 4);
    return p ? std::optional<std::uint32_t>(loadU32le(p)) : std::nullopt;
  }

 private:
  static constexpr std::size_t kBuffer = 64 << 10;
  const ByteReader& m_reader;
  std::int64_t m_size;
  const unsigned char* m_memory;
  std::vector<unsigned char> m_buffer;
  std::int64_t m_start = 0;
};

// Every position of text in the reader's bytes, in rising order.
std::vector<std::int64_t> findAll(const ByteReader& reader, std::string_view text) {
  std::vector<std::int64_t> found;
  const std::int64_t size = reader.size();
  if (const unsigned char* memory = reader.memory()) {
    const std::string_view all(reinterpret_cast<const char*>(memory), static_cast<std::size_t>(size));
    for (std::size_t at = all.find(text); at != std::string_view::npos; at = all.find(text, at + 1))
      found.push_back(static_cast<std::int64_t>(at));
    return found;
  }
  // Pieces that overlap by the text's length less one, so that no occurrence is cut.
  constexpr std::int64_t kPiece = 1 << 20;
  std::vector<unsigned char> piece;
  for (std::int64_t start = 0; start < size; start += kPiece) {
    const std::int64_t length = std::min<std::int64_t>(kPiece + static_cast<std::int64_t>(text.size()) - 1, size - start);
    piece.resize(static_cast<std::size_t>(length));
    if (!reader.read(start, piece.data(), piece.size())) break;
    const std::string_view view(reinterpret_cast<const char*>(piece.data()), piece.size());
    for (std::size_t at = view.find(text); at != std::string_view::npos; at = view.find(text, at + 1))
      if (static_cast<std::int64_t>(at) < kPiece) found.push_back(start + static_cast<std::int64_t>(at));
  }
  return found;
}

// ---------------------------------------------------------------------------------------------
// Delphi binary form streams. One object is: an optional flags byte (F0..FF; flag 2 means a
// child position, an integer value, follows), the class and object names as short strings, its
// properties (name, value tag, value) until a zero byte, its children until a zero byte.

enum : unsigned char {
  kNull = 0, kList = 1, kInt8 = 2, kInt16 = 3, kInt32 = 4, kExtended = 5, kString = 6, kIdent = 7,
  kFalse = 8, kTrue = 9, kBinary = 10, kSet = 11, kLString = 12, kNil = 13, kCollection = 14,
  kSingle = 15, kCurrency = 16, kDate = 17, kWString = 18, kInt64 = 19, kUtf8String = 20, kDouble = 21,
};

constexpr int kMaxDepth = 64;  // nesting deeper than any form; guards the stack on bad input

class StreamReader {
 public:
  StreamReader(Window& bytes, std::int64_t pos, std::vector<OwnedRange>& out)
      : m_bytes(bytes), m_pos(pos), m_out(out) {}

  bool object(int depth, const std::string& rootClass) {
    if (depth > kMaxDepth) return false;
    const auto first = peek();
    if (!first) return false;
    if ((*first & 0xF0) == 0xF0) {
      ++m_pos;
      if ((*first & 0x02) != 0) {
        const auto tag = take();
        if (!tag || (*tag != kInt8 && *tag != kInt16 && *tag != kInt32) || !value(*tag, {}, depth)) return false;
      }
    }
    const auto className = shortString();
    const auto objectName = shortString();
    if (!className || !objectName) return false;
    const bool root = rootClass.empty();
    const std::string formClass = root ? *className : rootClass;
    const std::string prefix =
        root ? *className : rootClass + "." + (objectName->empty() ? *className : *objectName);
    while (true) {
      const auto next = peek();
      if (!next) return false;
      if (*next == 0) break;
      const auto name = shortString();
      const auto tag = take();
      if (!name || !tag || !value(*tag, prefix + "." + *name, depth)) return false;
    }
    ++m_pos;
    while (true) {
      const auto next = peek();
      if (!next) return false;
      if (*next == 0) break;
      if (!object(depth + 1, formClass)) return false;
    }
    ++m_pos;
    return true;
  }

  [[nodiscard]] std::int64_t position() const { return m_pos; }

 private:
  std::optional<unsigned char> peek() { return m_bytes.u8(m_pos); }
  std::optional<unsigned char> take() {
    auto b = peek();
    if (b) ++m_pos;
    return b;
  }
  bool skip(std::uint64_t n) {
    if (n > static_cast<std::uint64_t>(m_bytes.size() - m_pos)) return false;
    m_pos += static_cast<std::int64_t>(n);
    return true;
  }
  std::optional<std::uint32_t> u32() {
    auto v = m_bytes.u32(m_pos);
    if (v) m_pos += 4;
    return v;
  }
  std::optional<std::string> shortString() {
    const auto n = take();
    const unsigned char* p = n ? m_bytes.at(m_pos, *n) : nullptr;
    if (!p) return std::nullopt;
    std::string s(reinterpret_cast<const char*>(p), *n);
    m_pos += *n;
    return s;
  }

  bool value(unsigned char tag, const std::string& path, int depth) {
    if (depth > kMaxDepth) return false;
    switch (tag) {
      case kNull: case kFalse: case kTrue: case kNil: return true;
      case kInt8: return skip(1);
      case kInt16: return skip(2);
      case kInt32: case kSingle: return skip(4);
      case kExtended: return skip(10);
      case kCurrency: case kDate: case kInt64: case kDouble: return skip(8);
      case kString: case kIdent: return shortString().has_value();
      case kLString: case kUtf8String: {
        const auto n = u32();
        return n && skip(*n);
      }
      case kWString: {
        const auto n = u32();
        return n && skip(std::uint64_t{*n} * 2);
      }
      case kBinary: {
        const auto n = u32();
        const std::int64_t begin = m_pos;
        if (!n || !skip(*n)) return false;
        if (!path.empty()) m_out.push_back({begin, m_pos, path});
        return true;
      }
      case kSet:
        while (true) {
          const auto s = shortString();
          if (!s) return false;
          if (s->empty()) return true;
        }
      case kList:
        while (true) {
          const auto next = peek();
          if (!next) return false;
          if (*next == 0) break;
          ++m_pos;
          if (!value(*next, path, depth + 1)) return false;
        }
        ++m_pos;
        return true;
      case kCollection: {
        for (int item = 0;; ++item) {
          auto next = peek();
          if (!next) return false;
          if (*next == 0) break;
          if (*next == kInt8 || *next == kInt16 || *next == kInt32) {  // the item's order value
            ++m_pos;
            if (!value(*next, {}, depth + 1)) return false;
          }
          if (take() != std::optional<unsigned char>(kList)) return false;
          const std::string itemPath = path.empty() ? std::string() : path + "[" + std::to_string(item) + "]";
          while (true) {
            next = peek();
            if (!next) return false;
            if (*next == 0) break;
            const auto name = shortString();
            const auto inner = take();
            if (!name || !inner ||
                !value(*inner, itemPath.empty() ? std::string() : itemPath + "." + *name, depth + 1))
              return false;
          }
          ++m_pos;
        }
        ++m_pos;
        return true;
      }
      default: return false;
    }
  }

  Window& m_bytes;
  std::int64_t m_pos;
  std::vector<OwnedRange>& m_out;
};

// Names in form streams are UTF-8 in Unicode Delphi, the ANSI code page before it.
std::string nameText(const std::string& raw) {
  return wellFormedUtf8(raw) == raw ? raw : localeToUtf8(raw);
}

// ---------------------------------------------------------------------------------------------
// VB companion text.

std::string_view trimmed(std::string_view s) {
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return trimBlanks(s);
}

std::string_view firstWord(std::string_view s) {
  const std::size_t end = s.find_first_of(" \t");
  return end == std::string_view::npos ? s : s.substr(0, end);
}

struct Frame {
  bool control = true;
  std::string name;
  std::string index;  // a control array member's Index
  struct Pending {
    CompanionReference ref;
    std::string property;  // the property path below the control
  };
  std::vector<Pending> pending;
};

// ---------------------------------------------------------------------------------------------
// PE images, for the VB5! header.

struct Section {
  std::uint32_t va = 0, size = 0, raw = 0, rawSize = 0;
};

class PeImage {
 public:
  explicit PeImage(Window& bytes) : m_size(bytes.size()) {
    if (bytes.u16(0) != 0x5A4Du) return;  // "MZ"
    const auto pe = bytes.u32(0x3C);
    if (!pe || bytes.u32(*pe) != 0x00004550u) return;
    const auto count = bytes.u16(*pe + 6);
    const auto optSize = bytes.u16(*pe + 20);
    const auto magic = bytes.u16(*pe + 24);
    if (!count || !optSize || magic != 0x10B) return;  // VB programs are 32-bit images
    const auto entry = bytes.u32(*pe + 24 + 16);
    const auto base = bytes.u32(*pe + 24 + 28);
    if (!entry || !base) return;
    m_entry = *entry;
    m_base = *base;
    const std::int64_t table = std::int64_t{*pe} + 24 + *optSize;
    for (std::uint16_t i = 0; i < *count; ++i) {
      const std::int64_t s = table + 40 * i;
      const auto vsize = bytes.u32(s + 8), va = bytes.u32(s + 12), rsize = bytes.u32(s + 16), raw = bytes.u32(s + 20);
      if (!vsize || !va || !rsize || !raw) return;
      m_sections.push_back({*va, std::max(*vsize, *rsize), *raw, *rsize});
    }
    m_valid = true;
  }

  [[nodiscard]] bool valid() const { return m_valid; }
  [[nodiscard]] std::uint32_t entryAddress() const { return m_base + m_entry; }

  // The file offset of a virtual address, or nullopt when no section's file bytes hold it.
  [[nodiscard]] std::optional<std::int64_t> offsetOf(std::uint32_t address) const {
    if (address < m_base) return std::nullopt;
    const std::uint32_t rva = address - m_base;
    for (const Section& s : m_sections) {
      if (rva >= s.va && rva - s.va < s.rawSize) {
        const std::int64_t off = std::int64_t{s.raw} + (rva - s.va);
        if (off < m_size) return off;
      }
    }
    return std::nullopt;
  }

 private:
  std::int64_t m_size;
  bool m_valid = false;
  std::uint32_t m_entry = 0, m_base = 0;
  std::vector<Section> m_sections;
};

// The form's name near the start of its data: u16 length at +0x62, the name, a zero byte.
std::optional<std::string> vbFormName(Window& bytes, std::int64_t formData, std::int64_t formEnd) {
  const auto length = bytes.u16(formData + 0x62);
  if (!length || *length == 0 || *length > 40) return std::nullopt;
  const std::int64_t name = formData + 0x64;
  const unsigned char* p = bytes.at(name, *length + 1u);
  if (!p || name + *length + 1 > formEnd || p[*length] != 0) return std::nullopt;
  std::string raw(reinterpret_cast<const char*>(p), *length);
  for (unsigned char c : raw)
    if (c < 0x80 && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'))
      return std::nullopt;
  return localeToUtf8(raw);
}

}  // namespace

std::vector<OwnedRange> delphiStreamOwners(const ByteReader& reader) {
  std::vector<OwnedRange> out;
  Window bytes(reader);
  std::int64_t resume = 0;
  for (const std::int64_t at : findAll(reader, "TPF0")) {
    if (at < resume) continue;  // inside a stream already read
    std::vector<OwnedRange> found;
    StreamReader stream(bytes, at + 4, found);
    const bool whole = stream.object(0, {});
    // A stream that breaks off still names the properties read before the break.
    out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    if (whole) resume = stream.position();
  }
  for (OwnedRange& r : out) r.owner = nameText(r.owner);
  return out;
}

std::vector<OwnedRange> vbCompanionOwners(std::string_view companion, std::string_view blobFileName,
                                          const ByteReader& blobReader) {
  Window blob(blobReader);
  struct Found {
    CompanionReference ref;
    std::string owner;
  };
  std::vector<Found> found;
  std::vector<Frame> stack;
  auto ownerOf = [&](const Frame& control, const std::string& property) {
    std::string owner = stack.empty() ? std::string() : stack.front().name;
    if (&control != &stack.front()) {
      owner += "." + control.name;
      if (!control.index.empty()) owner += "(" + control.index + ")";
    }
    return owner + "." + property;
  };
  auto closeControl = [&] {
    for (const Frame::Pending& p : stack.back().pending) found.push_back({p.ref, ownerOf(stack.back(), p.property)});
    stack.pop_back();
  };
  auto innermostControl = [&]() -> Frame* {
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
      if (it->control) return &*it;
    return nullptr;
  };

  std::size_t lineStart = 0;
  while (lineStart < companion.size()) {
    std::size_t lineEnd = companion.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = companion.size();
    const std::string_view line = trimmed(companion.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
    const std::string_view word = firstWord(line);
    if (word == "Begin" || word == "BeginProperty") {
      const std::string_view rest = trimmed(line.substr(word.size()));
      Frame f;
      f.control = word == "Begin";
      // "Begin VB.Image Image1": the name follows the type; "BeginProperty Font {GUID}".
      const std::string_view name = f.control ? trimmed(rest.substr(firstWord(rest).size())) : rest;
      f.name = localeToUtf8(firstWord(name));
      stack.push_back(std::move(f));
      continue;
    }
    if (stack.empty()) continue;
    if (word == "EndProperty") {
      if (!stack.back().control) stack.pop_back();
      continue;
    }
    if (line == "End") {
      while (!stack.empty() && !stack.back().control) stack.pop_back();
      if (!stack.empty()) closeControl();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view property = trimmed(line.substr(0, eq));
    Frame* control = innermostControl();
    if (!control) continue;
    if (property == "Index" && stack.back().control) {
      control->index = std::string(trimmed(line.substr(eq + 1)));
      continue;
    }
    const auto ref = findReference(line.substr(eq + 1), 0);
    if (!ref) continue;
    std::string path;
    for (auto it = stack.begin() + (control - stack.data()) + 1; it != stack.end(); ++it) path += it->name + ".";
    control->pending.push_back({*ref, path + localeToUtf8(property)});
  }
  while (!stack.empty()) {
    if (stack.back().control) closeControl();
    else stack.pop_back();
  }

  // Which references are this file's: those naming it; else those naming a file whose name ends
  // the name on disk ("Copy of Form1.frx"); else all, when they all name one file.
  const std::string_view wanted = lastNameComponent(blobFileName);
  auto anyRef = [&](auto&& pred) { return std::any_of(found.begin(), found.end(), [&](const Found& f) { return pred(f.ref.file); }); };
  auto sameName = [&](const std::string& file) { return equalsIgnoreCaseAscii(file, wanted); };
  auto endsName = [&](const std::string& file) { return !file.empty() && endsWithIgnoreCaseAscii(wanted, file); };
  const bool named = anyRef(sameName);
  const bool nameEnds = !named && anyRef(endsName);
  const bool oneFile = !found.empty() && !anyRef([&](const std::string& file) {
    return !equalsIgnoreCaseAscii(file, found.front().ref.file);
  });
  if (!named && !nameEnds && !oneFile) return {};
  auto ours = [&](const std::string& file) { return named ? sameName(file) : nameEnds ? endsName(file) : true; };
  std::vector<OwnedRange> out;
  for (const Found& f : found) {
    if (!ours(f.ref.file)) continue;
    // A blob starts with the size of what follows it.
    const auto size = blob.u32(f.ref.offset);
    if (!size) continue;
    const std::int64_t end = std::min<std::int64_t>(f.ref.offset + 4 + std::int64_t{*size}, blob.size());
    out.push_back({f.ref.offset, end, f.owner});
  }
  return out;
}

std::vector<OwnedRange> vbProgramOwners(const ByteReader& reader) {
  std::vector<OwnedRange> out;
  Window bytes(reader);
  const PeImage pe(bytes);
  if (!pe.valid()) return out;
  // The entry point pushes the header's address: 68 <u32>.
  const auto entry = pe.offsetOf(pe.entryAddress());
  if (!entry || bytes.u8(*entry) != 0x68) return out;
  const auto headerAddress = bytes.u32(*entry + 1);
  const auto header = headerAddress ? pe.offsetOf(*headerAddress) : std::nullopt;
  const unsigned char* magic = header ? bytes.at(*header, 0x50) : nullptr;
  if (!magic || std::memcmp(magic, "VB5!", 4) != 0) return out;
  const auto forms = bytes.u16(*header + 0x44);
  const auto tableAddress = bytes.u32(*header + 0x4C);
  const auto table = tableAddress ? pe.offsetOf(*tableAddress) : std::nullopt;
  if (!forms || !table) return out;
  for (std::uint16_t i = 0; i < *forms; ++i) {
    const std::int64_t e = *table + 0x50 * std::int64_t{i};
    const auto size = bytes.u32(e + 0x40);
    const auto address = bytes.u32(e + 0x48);
    const auto data = address ? pe.offsetOf(*address) : std::nullopt;
    if (!size || !data) break;
    const std::int64_t end = std::min<std::int64_t>(*data + *size, bytes.size());
    if (auto name = vbFormName(bytes, *data, end)) out.push_back({*data, end, std::move(*name)});
  }
  return out;
}

std::optional<std::string> Owners::of(std::int64_t position, std::int64_t length) const {
  const OwnedRange* best = nullptr;
  for (const OwnedRange& r : m_ranges)
    if (r.begin <= position && position + length <= r.end && (!best || r.end - r.begin < best->end - best->begin))
      best = &r;
  if (!best) return std::nullopt;
  return best->owner;
}

Owners readOwners(const ByteReader& bytes, const std::string& sourcePath) {
  std::vector<OwnedRange> ranges = delphiStreamOwners(bytes);
  std::vector<OwnedRange> vb = vbProgramOwners(bytes);
  ranges.insert(ranges.end(), std::make_move_iterator(vb.begin()), std::make_move_iterator(vb.end()));
  const std::string ext = companionExtension(sourcePath);
  if (!ext.empty()) {
    const auto source = nativePath(sourcePath);
    if (const auto companion = findSiblingWithExtension(source, ext)) {
      if (const auto text = readWholeFile(*companion)) {
        std::vector<OwnedRange> blobs = vbCompanionOwners(*text, utf8Path(source.filename()), bytes);
        ranges.insert(ranges.end(), std::make_move_iterator(blobs.begin()), std::make_move_iterator(blobs.end()));
      }
    }
  }
  return Owners(std::move(ranges));
}

}  // namespace falcet
