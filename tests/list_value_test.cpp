#include "util/list_value.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

// The text of each element; "<empty>" for the empty value.
std::vector<std::string> texts(const ListValue& v) {
  std::vector<std::string> out;
  if (const ListArray* a = v.asArray())
    for (const ListValue& e : a->items) out.push_back(e.isEmpty() ? "<empty>" : e.text());
  return out;
}

using Strings = std::vector<std::string>;

struct SplitCase {
  const char* name;
  const char* separator;
  const char* text;
  std::int32_t limit;
  Strings want;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << c.name << " (Split(\"" << c.separator << "\", \"" << c.text << "\", " << c.limit << "))";
}

class SplitCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCases, GivesThePieces) {
  const SplitCase& c = GetParam();
  ListValue v = Split(c.separator, c.text, c.limit);
  ASSERT_TRUE(v.isArray());
  EXPECT_EQ(texts(v), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SplitCases,
    ::testing::Values(
        SplitCase{"PaddedToLimit", ":", "a:b", 4, {"a", "b", "<empty>", "<empty>"}},
        SplitCase{"LastPieceKeepsRest", ":", "1:2:3:4:5", 4, {"1", "2", "3", "4:5"}},
        SplitCase{"EmptyTextPadded", ":", "", 4, {"", "<empty>", "<empty>", "<empty>"}},
        SplitCase{"ZeroLimitTrims", "/", "a/b//", 0, {"a", "b"}},
        SplitCase{"NegativeLimitKeepsEmpty", "/", "a/b//", -1, {"a", "b", "", ""}},
        SplitCase{"EmptyTextZeroLimit", "/", "", 0, {}},
        SplitCase{"EmptyTextNegativeLimit", "/", "", -1, {""}},
        SplitCase{"EmptySeparatorCharacters", "", "abc", -1, {"a", "b", "c"}},
        SplitCase{"EmptySeparatorLimit", "", "abc", 2, {"a", "bc"}},
        SplitCase{"EmptySeparatorMultiByte", "", "圖像", -1, {"圖", "像"}},
        SplitCase{"LeadingSeparator", ":", ":a", -1, {"", "a"}},
        SplitCase{"DriveLetterStaysInLastField", ":", "1:2:k:D:\\a:b", 4, {"1", "2", "k", "D:\\a:b"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Lists, JoinFlattensItsArguments) {
  EXPECT_EQ(Join(", ", {ListValue::array({"x", "y"}), ListValue("z")}).text(), "x, y, z");
  EXPECT_TRUE(Join(", ", {}).isEmpty());
  EXPECT_EQ(JoinList("-", ListValue::array({"a", ListValue::array({"b", "c"})}), "+").text(), "a-b+c");
}

TEST(Lists, PushPopUnshift) {
  ListValue list;
  Push(list, {"a"});
  Push(list, {"b", "c"});
  EXPECT_EQ(texts(list), (Strings{"a", "b", "c"}));
  EXPECT_EQ(list.asArray()->lower, 0);
  EXPECT_EQ(Pop(list).text(), "c");
  EXPECT_EQ(texts(list), (Strings{"a", "b"}));
  EXPECT_EQ(Pop(list).text(), "b");
  EXPECT_EQ(Pop(list).text(), "a");
  EXPECT_FALSE(IsNonEmptyList(list));
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_TRUE(Pop(list).isEmpty());

  ListValue ab = ListValue::array({"a", "b"});
  Unshift(ab, {"x"});
  EXPECT_EQ(texts(ab), (Strings{"x", "a", "b"}));
  ListValue none;
  Unshift(none, {"x"});
  EXPECT_EQ(texts(none), (Strings{"x"}));
}

TEST(Lists, PushFlattensANestedList) {
  ListValue list = ListValue::array({"a", ListValue::array({"b"})});
  Push(list, {"c"});
  EXPECT_EQ(texts(list), (Strings{"a", "b", "c"}));
}

TEST(Lists, ReplaceText) {
  EXPECT_EQ(ReplaceText("A&B", "&&", "&"), "A&&B");
  EXPECT_EQ(ReplaceText("abc", "-", ""), "a-b-c");
  EXPECT_EQ(ReplaceText("", "-", "x"), "");
  EXPECT_EQ(ReplaceText("a&&b&", "&&", "&"), "a&&&&b&&");
}

TEST(Lists, ShowList) {
  testing::RecordingSink sink;
  EXPECT_TRUE(ShowList(sink).isEmpty());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].title, "空清單");
  EXPECT_EQ(sink.messages[0].text, "");
  ListValue code = ShowList(sink, {ListValue::array({"a", "b"}), "c"});
  EXPECT_EQ(code.text(), std::to_string(kButtonOk));
  EXPECT_EQ(sink.messages[1].text, "abc");
  EXPECT_EQ(sink.messages[1].title, kAppTitle);
}

}  // namespace
}  // namespace falcet
