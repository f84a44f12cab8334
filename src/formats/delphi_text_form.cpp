#include "formats/delphi_text_form.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "base/ascii.hpp"

namespace falcet {
namespace {

constexpr std::size_t kMaxDepth = 256;  // deeper than any form; guards against crafted input

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (blank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool identifierStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool identifierPart(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

// "Name.Path = rest": the path and the rest, or nothing.
std::optional<std::pair<std::string_view, std::string_view>> propertyLine(std::string_view line) {
  std::size_t i = 0;
  while (true) {
    if (i >= line.size() || !identifierStart(static_cast<unsigned char>(line[i]))) return std::nullopt;
    while (i < line.size() && identifierPart(static_cast<unsigned char>(line[i]))) ++i;
    if (i < line.size() && line[i] == '.') {
      ++i;
      continue;
    }
    break;
  }
  const std::string_view path = line.substr(0, i);
  while (i < line.size() && blank(line[i])) ++i;
  if (i >= line.size() || line[i] != '=') return std::nullopt;
  return std::pair{path, trimmed(line.substr(i + 1))};
}

// The first word of a line, lower case.
std::string firstWord(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && !blank(line[n])) ++n;
  return toLowerAscii(std::string(line.substr(0, n)));
}

struct Frame {
  enum Type { Object, Collection, Item } type;
  std::string text;  // object: the prefix of its properties; collection: its property path
  int items = 0;     // collection: items so far
};

// The prefix a property's path takes in the innermost object, through the collections and items
// opened in it since.
std::string prefixOf(const std::vector<Frame>& stack) {
  std::size_t base = stack.size();
  while (base > 0 && stack[base - 1].type != Frame::Object) --base;
  std::string prefix = base > 0 ? stack[base - 1].text : std::string();
  for (std::size_t i = base; i < stack.size(); ++i) {
    if (stack[i].type == Frame::Collection) prefix += "." + stack[i].text;
    else prefix += "[" + std::to_string(stack[i - 1].items - 1) + "]";
  }
  return prefix;
}

class Reader {
 public:
  Reader(ByteSpan text) : m_text(reinterpret_cast<const char*>(text.data()), text.size()) {}

  std::optional<TextForm> read(std::size_t* badLine) {
    std::size_t pos = 0, line = 0;
    if (m_text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    while (pos < m_text.size()) {
      ++line;
      std::size_t end = m_text.find('\n', pos);
      if (end == std::string_view::npos) end = m_text.size();
      if (!(m_open ? hexLine(pos, end) : statement(pos, end, line))) {
        if (badLine) *badLine = line;
        return std::nullopt;
      }
      pos = end + 1;
    }
    if (m_open) {
      if (badLine) *badLine = line;
      return std::nullopt;
    }
    for (TextFormValue& v : m_form.values) {
      if (v.name.size() > 255) continue;
      auto& view = m_form.view;
      view.push_back(static_cast<unsigned char>(v.name.size()));
      view.insert(view.end(), v.name.begin(), v.name.end());
      view.push_back(0x0A);
      const auto n = static_cast<std::uint32_t>(v.bytes.size());
      for (int i = 0; i < 4; ++i) view.push_back(static_cast<unsigned char>(n >> (8 * i)));
      v.viewBegin = static_cast<std::int64_t>(view.size());
      view.insert(view.end(), v.bytes.begin(), v.bytes.end());
    }
    return std::move(m_form);
  }

 private:
  bool statement(std::size_t begin, std::size_t end, std::size_t line) {
    const std::string_view text = trimmed(m_text.substr(begin, end - begin));
    if (text.empty()) return true;
    const std::string word = firstWord(text);
    if (word == "object" || word == "inherited" || word == "inline") return object(text.substr(word.size()));
    if (word == "end" || word == "end>") {
      const std::string_view rest = trimmed(text.substr(3));
      if (m_stack.empty() || m_stack.back().type == Frame::Collection) return false;
      const bool closesCollection = rest == ">";
      if (!rest.empty() && !closesCollection) return true;  // "end" followed by anything else is no keyword
      const bool wasItem = m_stack.back().type == Frame::Item;
      m_stack.pop_back();
      if (closesCollection) {
        if (!wasItem || m_stack.empty() || m_stack.back().type != Frame::Collection) return false;
        m_stack.pop_back();
      }
      return true;
    }
    if (word == "item" && text.size() == 4) {
      if (m_stack.empty() || m_stack.back().type != Frame::Collection || m_stack.size() >= kMaxDepth) return false;
      ++m_stack.back().items;
      m_stack.push_back({Frame::Item, {}, 0});
      return true;
    }
    if (text == ">") {
      if (m_stack.empty() || m_stack.back().type != Frame::Collection) return false;
      m_stack.pop_back();
      return true;
    }
    const auto property = propertyLine(text);
    if (!property || m_stack.empty()) return true;
    const auto& [path, rest] = *property;
    if (rest == "<") {
      if (m_stack.size() >= kMaxDepth) return false;
      m_stack.push_back({Frame::Collection, std::string(path), 0});
      return true;
    }
    if (rest.empty() || rest.front() != '{') return true;
    TextFormValue v;
    v.line = line;
    v.name = std::string(path);
    v.path = prefixOf(m_stack) + "." + v.name;
    v.hexBegin = static_cast<std::size_t>(rest.data() - m_text.data()) + 1;
    m_form.values.push_back(std::move(v));
    m_open = true;
    m_digits.clear();
    m_lines = 0;
    m_firstDigit = std::string_view::npos;
    m_lastDigitEnd = std::string_view::npos;
    return hexLine(m_form.values.back().hexBegin, end);
  }

  // "[Name:] Class [n]" after the keyword.
  bool object(std::string_view rest) {
    if (m_stack.size() >= kMaxDepth) return false;
    rest = trimmed(rest);
    if (!rest.empty() && rest.back() == ']') {
      const std::size_t open = rest.rfind('[');
      if (open != std::string_view::npos) rest = trimmed(rest.substr(0, open));
    }
    std::string_view name, cls = rest;
    if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
      name = trimmed(rest.substr(0, colon));
      cls = trimmed(rest.substr(colon + 1));
    }
    const bool root = std::none_of(m_stack.begin(), m_stack.end(), [](const Frame& f) { return f.type == Frame::Object; });
    if (root) m_rootClass = std::string(cls);
    m_stack.push_back({Frame::Object, root ? m_rootClass : m_rootClass + "." + std::string(name.empty() ? cls : name), 0});
    return true;
  }

  // Hex digits and blanks of a binary value, up to "}".
  bool hexLine(std::size_t begin, std::size_t end) {
    TextFormValue& v = m_form.values.back();
    std::size_t digitsHere = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const char c = m_text[i];
      if (c == '}') {
        if (m_digits.size() % 2 != 0) return false;
        v.hexEnd = i;
        finish(v, begin);
        m_open = false;
        return true;
      }
      if (blank(c) || c == '\r') continue;
      if (hexValue(c) < 0) return false;
      if (m_firstDigit == std::string_view::npos) m_firstDigit = i;
      if (digitsHere == 0 && m_lines == 1) m_secondLine = begin;
      if (c >= 'a' && c <= 'f') v.lowerCase = true;
      m_digits.push_back(c);
      m_lastDigitEnd = i + 1;
      ++digitsHere;
    }
    if (digitsHere > 0) {
      if (m_lines == 0) m_firstLineDigits = digitsHere;
      ++m_lines;
    }
    return true;
  }

  void finish(TextFormValue& v, std::size_t closingLineBegin) {
    v.bytes.resize(m_digits.size() / 2);
    for (std::size_t i = 0; i < v.bytes.size(); ++i)
      v.bytes[i] = static_cast<unsigned char>(hexValue(m_digits[2 * i]) * 16 + hexValue(m_digits[2 * i + 1]));
    v.oneLine = closingLineBegin == v.hexBegin && m_text.substr(v.hexBegin, v.hexEnd - v.hexBegin).find('\n') == std::string_view::npos;
    const std::size_t first = m_firstDigit == std::string_view::npos ? v.hexEnd : m_firstDigit;
    const std::size_t last = m_lastDigitEnd == std::string_view::npos ? v.hexEnd : m_lastDigitEnd;
    v.head = std::string(m_text.substr(v.hexBegin, first - v.hexBegin));
    v.tail = std::string(m_text.substr(last, v.hexEnd - last));
    if (m_lines > 1) {
      v.digitsPerLine = m_firstLineDigits;
      // The second hex line's start, with the line end before it.
      std::size_t start = m_secondLine;
      std::size_t digit = start;
      while (digit < v.hexEnd && (blank(m_text[digit]))) ++digit;
      const std::size_t lineEnd = start >= 2 && m_text[start - 2] == '\r' ? start - 2 : start - 1;
      v.lineStart = std::string(m_text.substr(lineEnd, digit - lineEnd));
    } else {
      // One line of hex: further lines as the first one stands (line end and indent).
      const std::size_t nl = v.head.find('\n');
      v.lineStart = nl == std::string::npos ? std::string() : v.head.substr(nl >= 1 && v.head[nl - 1] == '\r' ? nl - 1 : nl);
    }
  }

  std::string_view m_text;
  TextForm m_form;
  std::vector<Frame> m_stack;
  std::string m_rootClass;
  bool m_open = false;  // inside a binary value
  std::string m_digits;
  std::size_t m_lines = 0, m_firstLineDigits = 0, m_secondLine = 0;
  std::size_t m_firstDigit = 0, m_lastDigitEnd = 0;
};

void appendHex(std::string& out, const unsigned char* p, std::size_t n, bool lower) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
}

}  // namespace

bool looksLikeTextForm(ByteSpan bytes) {
  std::string_view s(reinterpret_cast<const char*>(bytes.data()), std::min<std::size_t>(bytes.size(), 64));
  if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  while (!s.empty() && (blank(s.front()) || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  for (std::string_view word : {"object", "inherited", "inline"}) {
    if (s.size() > word.size() && toLowerAscii(std::string(s.substr(0, word.size()))) == word && blank(s[word.size()]))
      return true;
  }
  return false;
}

std::optional<TextForm> readTextForm(ByteSpan text, std::size_t* badLine) { return Reader(text).read(badLine); }

std::optional<std::vector<std::vector<unsigned char>>> valuesOfView(const TextForm& form, ByteSpan view) {
  std::vector<std::vector<unsigned char>> out;
  std::size_t pos = 0;
  for (const TextFormValue& v : form.values) {
    if (v.viewBegin < 0) {
      out.push_back(v.bytes);
      continue;
    }
    const std::size_t head = 1 + v.name.size() + 1;
    if (view.size() - pos < head + 4 || view[pos] != v.name.size() ||
        std::memcmp(view.data() + pos + 1, v.name.data(), v.name.size()) != 0 || view[pos + head - 1] != 0x0A)
      return std::nullopt;
    pos += head;
    const std::size_t n = loadU32le(view.data() + pos);
    pos += 4;
    if (view.size() - pos < n) return std::nullopt;
    out.emplace_back(view.begin() + static_cast<std::ptrdiff_t>(pos), view.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  }
  if (pos != view.size()) return std::nullopt;
  return out;
}

std::vector<unsigned char> rewriteTextForm(ByteSpan text, const TextForm& form,
                                           const std::vector<std::vector<unsigned char>>& newValues) {
  std::vector<unsigned char> out;
  out.reserve(text.size());
  std::size_t copied = 0;
  for (std::size_t i = 0; i < form.values.size() && i < newValues.size(); ++i) {
    const TextFormValue& v = form.values[i];
    const std::vector<unsigned char>& bytes = newValues[i];
    if (bytes == v.bytes) continue;
    std::string hex;
    if (v.oneLine) {
      appendHex(hex, bytes.data(), bytes.size(), v.lowerCase);
    } else {
      const std::size_t perLine = std::max<std::size_t>(2, v.digitsPerLine / 2 * 2) / 2;
      for (std::size_t at = 0; at < bytes.size(); at += perLine) {
        hex += at == 0 ? v.head : v.lineStart;
        appendHex(hex, bytes.data() + at, std::min(perLine, bytes.size() - at), v.lowerCase);
      }
      if (bytes.empty()) hex += v.head;
      hex += v.tail;
    }
    out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(copied), text.begin() + static_cast<std::ptrdiff_t>(v.hexBegin));
    out.insert(out.end(), hex.begin(), hex.end());
    copied = v.hexEnd;
  }
  out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(copied), text.end());
  return out;
}

}  // namespace falcet
