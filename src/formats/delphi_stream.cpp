#include "formats/delphi_stream.hpp"

#include <algorithm>
#include <cstring>

namespace falcet {
namespace {

enum : unsigned char {
  kNull = 0, kList = 1, kInt8 = 2, kInt16 = 3, kInt32 = 4, kExtended = 5, kString = 6, kIdent = 7,
  kFalse = 8, kTrue = 9, kBinary = 10, kSet = 11, kLString = 12, kNil = 13, kCollection = 14,
  kSingle = 15, kCurrency = 16, kDate = 17, kWString = 18, kInt64 = 19, kUtf8String = 20, kDouble = 21,
};

constexpr int kMaxDepth = 64;  // nesting deeper than any form; guards the stack on bad input

class StreamReader {
 public:
  StreamReader(ByteWindow& bytes, std::int64_t pos, std::vector<DelphiBinaryValue>& out)
      : m_bytes(bytes), m_pos(pos), m_out(out) {}

  bool object(int depth, const std::string& rootClass) {
    if (depth > kMaxDepth) return false;
    if (!flags(depth)) return false;
    const auto className = shortString();
    const auto objectName = shortString();
    if (!className || !objectName) return false;
    const bool root = rootClass.empty();
    const std::string formClass = root ? *className : rootClass;
    const std::string prefix =
        root ? *className : rootClass + "." + (objectName->empty() ? *className : *objectName);
    if (!properties(prefix, true, depth)) return false;
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
  // The optional flags byte and the child position it announces.
  bool flags(int depth) {
    const auto first = peek();
    if (!first) return false;
    if ((*first & 0xF0) != 0xF0) return true;
    ++m_pos;
    if ((*first & 0x02) == 0) return true;
    const auto tag = take();
    return tag && (*tag == kInt8 || *tag == kInt16 || *tag == kInt32) && value(*tag, {}, depth);
  }

  // Name, tag, value until a zero byte; each value's path is prefix "." name (named: paths are
  // kept; collection items of an unnamed value keep none).
  bool properties(const std::string& prefix, bool named, int depth) {
    while (true) {
      const auto next = peek();
      if (!next) return false;
      if (*next == 0) break;
      const auto name = shortString();
      const auto tag = take();
      if (!name || !tag || !value(*tag, named ? prefix + "." + *name : std::string(), depth)) return false;
    }
    ++m_pos;
    return true;
  }

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
      case kCollection: return collection(path, depth);
      default: return false;
    }
  }

  // Items until a zero byte: an optional order value, then a list of properties.
  bool collection(const std::string& path, int depth) {
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
      if (!properties(itemPath, !itemPath.empty(), depth + 1)) return false;
    }
    ++m_pos;
    return true;
  }

  ByteWindow& m_bytes;
  std::int64_t m_pos;
  std::vector<DelphiBinaryValue>& m_out;
};

}  // namespace

DelphiStream readDelphiStream(ByteWindow& bytes, std::int64_t signature) {
  DelphiStream s;
  StreamReader reader(bytes, signature + 4, s.values);
  s.whole = reader.object(0, {});
  s.end = reader.position();
  return s;
}

std::vector<DelphiBinaryValue> delphiBinaryValues(const ByteReader& reader) {
  std::vector<DelphiBinaryValue> out;
  ByteWindow bytes(reader);
  std::int64_t resume = 0;
  for (const std::int64_t at : findAll(reader, "TPF0")) {
    if (at < resume) continue;  // inside a stream already read
    DelphiStream stream = readDelphiStream(bytes, at);
    out.insert(out.end(), std::make_move_iterator(stream.values.begin()), std::make_move_iterator(stream.values.end()));
    // A stream that broke off is not read again from a "TPF0" inside what it read.
    resume = std::max(stream.end, at + 4);
  }
  return out;
}

std::optional<std::size_t> dfmHeaderSizeField(ByteSpan c) {
  if (c.size() < 3 || c[0] != 0xFF || c[1] != 0x0A || c[2] != 0x00) return std::nullopt;
  std::size_t i = 3;
  while (i < c.size() && i < 300 && c[i] != 0) ++i;
  if (i >= c.size() || c[i] != 0) return std::nullopt;
  const std::size_t field = i + 3;
  if (c.size() < field + 8 || c[i + 1] != 0x30 || c[i + 2] != 0x10) return std::nullopt;
  if (std::memcmp(&c[field + 4], "TPF0", 4) != 0) return std::nullopt;
  return field;
}

}  // namespace falcet
