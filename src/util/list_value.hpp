#pragma once
// Dynamic list values and the list/text operations built on them (module Perl2).
//
// A ListValue is the empty value, a scalar (text, integer or boolean) or a one-dimensional array
// with its own signed 32-bit lower bound whose elements are ListValues again. Values copy deeply.
// An array may hold no elements (upper = lower - 1) or be erased (no bounds at all).
//
// Text is UTF-8. Split with an empty separator cuts between characters (code points).
// Joining writes the empty value as empty text, an integer in decimal and a boolean as
// "True"/"False".

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/message_sink.hpp"

namespace falcet {

class ListValue;

struct ListArray {
  std::int32_t lower = 0;
  std::vector<ListValue> items;
  bool erased = false;
};

class ListValue {
 public:
  using Storage = std::variant<std::monostate, std::string, std::int64_t, bool, ListArray>;

  ListValue() = default;
  ListValue(std::string text) : m_v(std::move(text)) {}
  ListValue(const char* text) : m_v(std::string(text)) {}
  ListValue(std::string_view text) : m_v(std::string(text)) {}
  ListValue(std::int64_t number) : m_v(number) {}
  ListValue(int number) : m_v(static_cast<std::int64_t>(number)) {}
  ListValue(bool flag) : m_v(flag) {}
  ListValue(ListArray array) : m_v(std::move(array)) {}

  // An array with lower bound 0 holding the given elements.
  static ListValue array(std::vector<ListValue> items);

  [[nodiscard]] bool isEmpty() const { return std::holds_alternative<std::monostate>(m_v); }
  [[nodiscard]] bool isArray() const { return std::holds_alternative<ListArray>(m_v); }
  [[nodiscard]] bool isText() const { return std::holds_alternative<std::string>(m_v); }
  [[nodiscard]] const ListArray* asArray() const { return std::get_if<ListArray>(&m_v); }
  [[nodiscard]] ListArray* asArray() { return std::get_if<ListArray>(&m_v); }
  // The text form used when joining.
  [[nodiscard]] std::string text() const;

  friend bool operator==(const ListValue& a, const ListValue& b);

 private:
  Storage m_v;
};

bool operator==(const ListArray& a, const ListArray& b);

using ListItems = std::vector<ListValue>;

[[nodiscard]] bool IsNonEmptyList(const ListValue& value);
[[nodiscard]] std::int32_t ListCount(const ListValue& value);
void FlattenInto(const ListValue& value, ListValue& destination);
[[nodiscard]] ListValue Flatten(const ListValue& value);
void AppendItem(ListValue& list, const ListValue& item);
[[nodiscard]] ListValue JoinList(std::string_view separator, const ListValue& value,
                                 std::string_view innerSeparator);
[[nodiscard]] ListValue Join(std::string_view separator, const ListItems& items);
[[nodiscard]] ListValue Split(std::string_view separator, std::string_view text,
                              std::int32_t limit);
void Push(ListValue& list, const ListItems& items);
[[nodiscard]] ListValue Pop(ListValue& list);
void Unshift(ListValue& list, const ListItems& items);
[[nodiscard]] std::string ReplaceText(std::string_view text, std::string_view replacement,
                                      std::string_view find);
// With no items: an empty box titled "空清單", result the empty value. Otherwise the leaves of
// the items joined without separators, under the application title; result the button code.
ListValue ShowList(MessageSink& sink);
ListValue ShowList(MessageSink& sink, const ListItems& items);

}  // namespace falcet
