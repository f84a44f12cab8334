#include "util/number.hpp"

#include <gtest/gtest.h>

#include <ostream>

namespace falcet {
namespace {

struct IntCase {
  const char* name;
  const char* text;
  std::optional<std::int32_t> want;
};

void PrintTo(const IntCase& c, std::ostream* os) {
  *os << c.name << " (\"" << c.text << "\")";
}

class IntegerKeys : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntegerKeys, Converts) { EXPECT_EQ(parseInteger(GetParam().text), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Numbers, IntegerKeys,
    ::testing::Values(IntCase{"Plain", "12", 12}, IntCase{"Negative", "-8", -8},
                      IntCase{"PlusSign", "+3", 3}, IntCase{"Blanks", " \t 7 ", 7},
                      IntCase{"HalfToEvenDown", "2.5", 2}, IntCase{"HalfToEvenUp", "3.5", 4},
                      IntCase{"NegativeHalf", "-2.5", -2}, IntCase{"AboveHalf", "2.51", 3},
                      IntCase{"LeadingDot", ".6", 1}, IntCase{"Hex", "&H1F", 31},
                      IntCase{"HexLower", "&hff", 255}, IntCase{"HexAllOnes", "&HFFFFFFFF", -1},
                      IntCase{"HexTooLong", "&H123456789", std::nullopt},
                      IntCase{"HexEmpty", "&H", std::nullopt}, IntCase{"Max", "2147483647", INT32_MAX},
                      IntCase{"Min", "-2147483648", INT32_MIN},
                      IntCase{"Overflow", "2147483648", std::nullopt},
                      IntCase{"OverflowByRounding", "2147483647.5", std::nullopt},
                      IntCase{"Huge", "99999999999999999999999999999999999", std::nullopt},
                      IntCase{"Empty", "", std::nullopt}, IntCase{"Letters", "abc", std::nullopt},
                      IntCase{"TrailingText", "12x", std::nullopt}, IntCase{"SignOnly", "-", std::nullopt},
                      IntCase{"BlankInside", "1 2", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LogNumbers, ReadTheNumberAtTheStart) {
  EXPECT_EQ(parseLeadingNumber("12"), 12);
  EXPECT_EQ(parseLeadingNumber("   12"), 12);
  EXPECT_EQ(parseLeadingNumber("12abc"), 12);
  EXPECT_EQ(parseLeadingNumber("abc"), 0);
  EXPECT_EQ(parseLeadingNumber(""), 0);
  EXPECT_EQ(parseLeadingNumber("-4"), -4);
  EXPECT_EQ(parseLeadingNumber("2.5"), 2);
  EXPECT_EQ(parseLeadingNumber("3.5"), 4);
  EXPECT_EQ(parseLeadingNumber("99999999999"), std::nullopt);
}

TEST(FixedPoint, KeepsFourDecimals) {
  EXPECT_EQ(parseFixed4("9"), 90000);
  EXPECT_EQ(parseFixed4("9.75"), 97500);
  EXPECT_EQ(parseFixed4(" 10.5 "), 105000);
  EXPECT_EQ(parseFixed4("1.00005"), 10000);  // half to even
  EXPECT_EQ(parseFixed4("1.00015"), 10002);
  EXPECT_EQ(parseFixed4("x"), std::nullopt);
  EXPECT_EQ(parseInteger16("32768"), std::nullopt);
  EXPECT_EQ(parseInteger16("-32768"), INT16_MIN);
  EXPECT_EQ(parseDecimal("1.0"), 1.0);
}

}  // namespace
}  // namespace falcet
