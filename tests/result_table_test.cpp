#include "app/result_table.hpp"

#include <gtest/gtest.h>

namespace falcet {
namespace {

ResultReport importResult() {
  ResultReport r;
  r.operation = ResultReport::Operation::Import;
  ResultRow a;
  a.number = 1, a.path = "dir/f.frx.001.bmp", a.file = "f.frx.001.bmp", a.format = "bmp", a.width = 20, a.height = 10;
  a.bytes = 300, a.owner = "Form1.Image1.Picture", a.verdict = "圖像成功匯入！", a.imported = true, a.changed = true;
  ResultRow b;  // refused, its file unreadable: nothing known of it
  b.number = 2, b.path = "f.frx.002.gif", b.file = b.path, b.bytes = 5000, b.verdict = "格式不符，此圖像未匯入！";
  ResultRow c;
  c.number = 3, c.path = "f.frx.003.ico", c.file = c.path, c.format = "ico", c.width = 16, c.height = 16, c.bytes = 300;
  c.verdict = "圖像成功匯入！", c.imported = true;
  r.rows = {a, b, c};
  return r;
}

TEST(ResultTable, ColumnsAndTheirOrder) {
  ResultReport exported = importResult();
  exported.operation = ResultReport::Operation::Export;
  using C = ResultColumn;
  EXPECT_EQ(ResultTable(exported).columnCount(), 7);
  EXPECT_EQ(ResultTable(exported).displayOrder(),
            (std::vector<C>{C::Thumbnail, C::Number, C::File, C::Format, C::Size, C::Bytes, C::Owner}));
  const ResultReport imported = importResult();
  EXPECT_EQ(ResultTable(imported).columnCount(), 9);
  EXPECT_EQ(ResultTable(imported).displayOrder(),
            (std::vector<C>{C::Thumbnail, C::Number, C::Changed, C::Verdict, C::File, C::Format, C::Size, C::Bytes, C::Owner}));
  EXPECT_EQ(ResultTable::heading(C::Owner), "擁有者");
  EXPECT_TRUE(ResultTable::alignsRight(C::Bytes));
  EXPECT_FALSE(ResultTable::alignsRight(C::File));
}

TEST(ResultTable, CellsAndMarks) {
  const ResultReport result = importResult();
  const ResultTable t(result);
  using C = ResultColumn;
  EXPECT_EQ(t.cellText(0, C::File), "f.frx.001.bmp");
  EXPECT_EQ(t.cellText(0, C::Size), "20×10");
  EXPECT_EQ(t.cellText(1, C::Size), "-");
  EXPECT_EQ(t.cellText(1, C::Format), "-");
  EXPECT_EQ(t.cellText(1, C::Owner), "-");
  EXPECT_EQ(t.cellText(1, C::Bytes), "5000");
  EXPECT_EQ(t.cellText(0, C::Changed), "已變更");
  EXPECT_EQ(t.cellText(2, C::Changed), "");
  EXPECT_TRUE(t.background(0).has_value());
  EXPECT_FALSE(t.background(1).has_value());
  EXPECT_FALSE(t.foreground(0).has_value());
  EXPECT_TRUE(t.foreground(1).has_value());
}

TEST(ResultTable, SortOrder) {
  const ResultReport result = importResult();
  const ResultTable t(result);
  auto byText = [](const std::string& a, const std::string& b) { return a.compare(b); };
  using C = ResultColumn;
  // By size: unknown last, in either direction's ascending order; equal bytes fall back to number.
  EXPECT_LT(t.compare(0, 2, C::Size, byText), 0);  // 20×10 = 200 pixels < 16×16 = 256
  EXPECT_LT(t.compare(0, 1, C::Size, byText), 0);  // known before unknown
  EXPECT_GT(t.compare(1, 2, C::Size, byText), 0);
  EXPECT_LT(t.compare(0, 2, C::Bytes, byText), 0);  // 300 = 300: number 1 before 3
  EXPECT_GT(t.compare(1, 0, C::Bytes, byText), 0);
  EXPECT_LT(t.compare(1, 0, C::Format, byText), 0);  // "-" < "bmp" as text
  EXPECT_GT(t.compare(0, 2, C::Changed, byText), 0);
}

// The view is never larger than the work area, at any DPI, and as wide as the columns want
// within 780 × 560 at 96 dpi.
TEST(ResultTable, FitsTheWorkArea) {
  struct Case {
    int wanted;
    ViewSize area;
    int dpi;
  };
  for (const Case c : {Case{900, {800, 600}, 96}, Case{300, {800, 600}, 96}, Case{1800, {1280, 900}, 192},
                       Case{600, {1280, 900}, 192}, Case{2000, {640, 480}, 144}}) {
    const ViewSize fit = ResultTable::fitSize(c.wanted, c.area, c.dpi);
    EXPECT_LE(fit.width, c.area.width) << c.wanted << " at " << c.dpi;
    EXPECT_LE(fit.height, c.area.height) << c.wanted << " at " << c.dpi;
    EXPECT_LE(fit.width, 780 * c.dpi / 96);
    EXPECT_GE(fit.width, std::min(520 * c.dpi / 96, c.area.width - 20 * c.dpi / 96));
  }
  EXPECT_EQ(ResultTable::fitSize(600, {1920, 1080}, 96).width, 600);
  EXPECT_EQ(ResultTable::fitSize(600, {1920, 1080}, 96).height, 560);
  EXPECT_EQ(ResultTable::ownerWidth(230, 900, 780, 96), 120);
  EXPECT_EQ(ResultTable::ownerWidth(230, 800, 780, 96), 210);
  EXPECT_EQ(ResultTable::ownerWidth(230, 700, 780, 96), 230);
}

}  // namespace
}  // namespace falcet
