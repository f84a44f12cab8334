#include "formats/vb_form_text.hpp"

#include <algorithm>

#include "base/ascii.hpp"
#include "base/lines.hpp"
#include "platform/codepage.hpp"

namespace falcet {

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

namespace {

std::string_view firstWord(std::string_view s) {
  const std::size_t end = s.find_first_of(" \t");
  return end == std::string_view::npos ? s : s.substr(0, end);
}

// One open Begin (a control) or BeginProperty (a property group) of the nesting.
struct OpenBlock {
  bool control = true;
  std::string name;
  std::string index;  // a control array member's Index
  struct Pending {
    CompanionReference ref;
    std::string property;  // the property path below the control
  };
  std::vector<Pending> pending;
};

// Nesting deeper than any form; what lies deeper is read past, so that a crafted text costs no
// more than its length.
constexpr std::size_t kMaxDepth = 64;

class FormTextParser {
 public:
  void line(std::string_view line) {
    const std::string_view word = firstWord(line);
    const bool begins = word == "Begin" || word == "BeginProperty";
    if (m_deeper > 0 || (begins && m_stack.size() >= kMaxDepth)) {
      if (begins) ++m_deeper;
      else if (word == "EndProperty" || line == "End") --m_deeper;
      return;
    }
    if (begins) return open(word == "Begin", trimBlanks(line.substr(word.size())));
    if (m_stack.empty()) return;
    if (word == "EndProperty") {
      if (!m_stack.back().control) m_stack.pop_back();
      return;
    }
    if (line == "End") {
      while (!m_stack.empty() && !m_stack.back().control) m_stack.pop_back();
      if (!m_stack.empty()) closeControl();
      return;
    }
    property(line);
  }

  std::vector<OwnedReference> finish() {
    while (!m_stack.empty()) {
      if (m_stack.back().control) closeControl();
      else m_stack.pop_back();
    }
    return std::move(m_found);
  }

 private:
  void open(bool control, std::string_view rest) {
    OpenBlock b;
    b.control = control;
    // "Begin VB.Image Image1": the name follows the type; "BeginProperty Font {GUID}".
    const std::string_view name = control ? trimBlanks(rest.substr(firstWord(rest).size())) : rest;
    b.name = localeToUtf8(firstWord(name));
    m_stack.push_back(std::move(b));
  }

  void property(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view name = trimBlanks(line.substr(0, eq));
    const auto control = innermostControl();
    if (control == m_stack.size()) return;
    if (name == "Index" && m_stack.back().control) {
      m_stack[control].index = std::string(trimBlanks(line.substr(eq + 1)));
      return;
    }
    const auto ref = findReference(line.substr(eq + 1), 0);
    if (!ref) return;
    std::string path;
    for (std::size_t i = control + 1; i < m_stack.size(); ++i) path += m_stack[i].name + ".";
    m_stack[control].pending.push_back({*ref, path + localeToUtf8(name)});
  }

  // The innermost open control's place in the stack, or the stack's size when there is none.
  std::size_t innermostControl() const {
    for (std::size_t i = m_stack.size(); i-- > 0;)
      if (m_stack[i].control) return i;
    return m_stack.size();
  }

  void closeControl() {
    const OpenBlock& control = m_stack.back();
    std::string owner = m_stack.front().name;
    if (m_stack.size() > 1) {
      owner += "." + control.name;
      if (!control.index.empty()) owner += "(" + control.index + ")";
    }
    for (const OpenBlock::Pending& p : control.pending) m_found.push_back({p.ref, owner + "." + p.property});
    m_stack.pop_back();
  }

  std::vector<OpenBlock> m_stack;
  std::size_t m_deeper = 0;  // blocks open below the deepest one kept
  std::vector<OwnedReference> m_found;
};

}  // namespace

std::vector<OwnedReference> parseFormText(std::string_view text) {
  FormTextParser parser;
  for (std::string_view line : splitLines(text)) parser.line(trimBlanks(line));
  return parser.finish();
}

std::vector<OwnedReference> referencesOf(std::vector<OwnedReference> found, std::string_view blobFileName) {
  const std::string_view wanted = lastNameComponent(blobFileName);
  auto anyRef = [&](auto&& pred) {
    return std::any_of(found.begin(), found.end(), [&](const OwnedReference& f) { return pred(f.ref.file); });
  };
  auto sameName = [&](const std::string& file) { return equalsIgnoreCaseAscii(file, wanted); };
  auto endsName = [&](const std::string& file) { return !file.empty() && endsWithIgnoreCaseAscii(wanted, file); };
  const bool named = anyRef(sameName);
  const bool nameEnds = !named && anyRef(endsName);
  const bool oneFile = !found.empty() && !anyRef([&](const std::string& file) {
    return !equalsIgnoreCaseAscii(file, found.front().ref.file);
  });
  if (!named && !nameEnds && !oneFile) return {};
  auto ours = [&](const std::string& file) { return named ? sameName(file) : nameEnds ? endsName(file) : true; };
  std::erase_if(found, [&](const OwnedReference& f) { return !ours(f.ref.file); });
  return found;
}

}  // namespace falcet
