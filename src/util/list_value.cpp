#include "util/list_value.hpp"

#include "platform/codepage.hpp"
#include "texts/texts.hpp"

namespace falcet {

ListValue ListValue::array(std::vector<ListValue> items) {
  ListArray a;
  a.items = std::move(items);
  return ListValue(std::move(a));
}

std::string ListValue::text() const {
  if (auto s = std::get_if<std::string>(&m_v)) return *s;
  if (auto n = std::get_if<std::int64_t>(&m_v)) return std::to_string(*n);
  if (auto b = std::get_if<bool>(&m_v)) return *b ? "True" : "False";
  return {};
}

bool operator==(const ListArray& a, const ListArray& b) {
  return a.lower == b.lower && a.erased == b.erased && a.items == b.items;
}

bool operator==(const ListValue& a, const ListValue& b) { return a.m_v == b.m_v; }

namespace {
ListValue itemsAsArray(const ListItems& items) { return ListValue::array(items); }
}  // namespace

bool IsNonEmptyList(const ListValue& value) {
  const ListArray* a = value.asArray();
  return a && !a->erased && !a->items.empty();
}

std::int32_t ListCount(const ListValue& value) {
  return IsNonEmptyList(value) ? static_cast<std::int32_t>(value.asArray()->items.size()) : 0;
}

void FlattenInto(const ListValue& value, ListValue& destination) {
  const ListArray* a = value.asArray();
  if (!a || a->erased) return;
  for (const ListValue& element : a->items) {
    if (element.isArray()) FlattenInto(element, destination);
    else AppendItem(destination, element);
  }
}

ListValue Flatten(const ListValue& value) {
  ListValue out;
  FlattenInto(value, out);
  return out;
}

void AppendItem(ListValue& list, const ListValue& item) {
  if (IsNonEmptyList(list)) {
    list.asArray()->items.push_back(item);
    return;
  }
  list = ListValue::array({item});
}

ListValue JoinList(std::string_view separator, const ListValue& value,
                   std::string_view innerSeparator) {
  if (!IsNonEmptyList(value)) return value;
  const auto& items = value.asArray()->items;
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += JoinList(innerSeparator, items[i], innerSeparator).text();
  }
  return ListValue(std::move(out));
}

ListValue Join(std::string_view separator, const ListItems& items) {
  return JoinList(separator, Flatten(itemsAsArray(items)), "");
}

ListValue Split(std::string_view separator, std::string_view text, std::int32_t limit) {
  const bool trim = limit == 0;
  const std::int32_t fixed = limit > 0 ? limit : 0;
  std::int64_t remaining = limit > 0 ? limit : 2147483647;
  ListValue result;
  std::size_t pos = 0;
  bool finalPiece = true;
  for (;;) {
    std::size_t found;
    if (separator.empty()) {
      if (pos >= text.size()) {
        finalPiece = false;
        break;
      }
      found = pos + utf8CharLength(static_cast<unsigned char>(text[pos]));
      if (found > text.size()) found = text.size();
    } else {
      found = text.find(separator, pos);
      if (found == std::string_view::npos) break;
    }
    if (remaining <= 1) break;
    --remaining;
    AppendItem(result, ListValue(text.substr(pos, found - pos)));
    pos = found + separator.size();
  }
  if (finalPiece) AppendItem(result, ListValue(text.substr(pos)));
  if (fixed > 0) {
    if (!result.isArray()) result = ListValue::array({});
    result.asArray()->items.resize(static_cast<std::size_t>(fixed));
  }
  if (trim && IsNonEmptyList(result)) {
    auto& items = result.asArray()->items;
    std::size_t keep = items.size();
    while (keep > 0 && (items[keep - 1].isEmpty() ||
                        (items[keep - 1].isText() && items[keep - 1].text().empty())))
      --keep;
    items.resize(keep);
  }
  return result;
}

namespace {
bool isFlat(const ListValue& v) {
  const ListArray* a = v.asArray();
  if (!a || a->erased || a->items.empty() || a->lower != 0) return false;
  for (const ListValue& e : a->items)
    if (e.isArray()) return false;
  return true;
}
}  // namespace

void Push(ListValue& list, const ListItems& items) {
  // A flat list is its own flattened form; skip the copy (the report grows one line at a time).
  if (!isFlat(list)) list = Flatten(list);
  if (IsNonEmptyList(list)) {
    ListValue leaves = Flatten(itemsAsArray(items));
    if (const ListArray* a = leaves.asArray())
      for (const ListValue& leaf : a->items) AppendItem(list, leaf);
    return;
  }
  list = Flatten(itemsAsArray(items));
}

ListValue Pop(ListValue& list) {
  list = Flatten(list);
  if (!IsNonEmptyList(list)) {
    list = ListValue();
    return ListValue();
  }
  auto& items = list.asArray()->items;
  ListValue last = items.back();
  items.pop_back();
  if (items.empty()) list.asArray()->erased = true;
  return last;
}

void Unshift(ListValue& list, const ListItems& items) {
  list = Flatten(list);
  ListValue leaves = Flatten(itemsAsArray(items));
  if (IsNonEmptyList(list)) {
    if (const ListArray* a = leaves.asArray()) {
      auto& dst = list.asArray()->items;
      dst.insert(dst.begin(), a->items.begin(), a->items.end());
    }
    return;
  }
  list = leaves;
}

std::string ReplaceText(std::string_view text, std::string_view replacement,
                        std::string_view find) {
  return JoinList(replacement, Split(find, text, -1), "").text();
}

ListValue ShowList(MessageSink& sink) {
  sink.show("", texts::kEmptyListTitle, MessageKind::Info);
  return ListValue();
}

ListValue ShowList(MessageSink& sink, const ListItems& items) {
  std::string text = JoinList("", Flatten(itemsAsArray(items)), "").text();
  return ListValue(sink.show(text, kAppTitle, MessageKind::Info));
}

}  // namespace falcet
