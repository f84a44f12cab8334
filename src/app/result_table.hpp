#pragma once
// The result view's table, the same in both windows: the columns and their order for an export
// and an import, each cell's text, the sort order, which rows are marked and how, the columns
// whose width is capped, and the size the view fits into. The Qt and Win32 views only map it to
// their widgets.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transfer/result.hpp"

namespace falcet {

enum class ResultColumn { Thumbnail, Number, File, Format, Size, Bytes, Owner, Verdict, Changed };
inline constexpr int kResultColumnCount = 9;

struct Rgb {
  unsigned char red, green, blue;
};
inline constexpr Rgb kChangedBackground{0xFF, 0xF4, 0xC2};  // a picture that changed
inline constexpr Rgb kRefusedText{0xB0, 0x00, 0x20};        // an entry that did not go in

struct ViewSize {
  int width = 0, height = 0;
};

class ResultTable {
 public:
  explicit ResultTable(const ResultReport& result) : m_result(result) {}

  [[nodiscard]] bool isImport() const { return m_result.operation == ResultReport::Operation::Import; }
  // The table's columns: an export's end with the owner, an import's add verdict and change.
  [[nodiscard]] int columnCount() const { return isImport() ? kResultColumnCount : static_cast<int>(ResultColumn::Owner) + 1; }
  // The order they are shown in: an import shows what became of each picture first.
  [[nodiscard]] std::vector<ResultColumn> displayOrder() const;
  [[nodiscard]] static std::string heading(ResultColumn column);
  // Numbers and byte counts stand right-aligned.
  [[nodiscard]] static bool alignsRight(ResultColumn column);

  [[nodiscard]] std::size_t rowCount() const { return m_result.rows.size(); }
  [[nodiscard]] const ResultRow& row(std::size_t i) const { return m_result.rows[i]; }
  // A cell's text (UTF-8). Byte counts are plain digits: a view groups them as its locale does.
  [[nodiscard]] std::string cellText(std::size_t row, ResultColumn column) const;
  // The number a cell sorts by, where it has one (number, size, bytes, changed).
  [[nodiscard]] std::optional<std::int64_t> sortKey(std::size_t row, ResultColumn column) const;
  // The order of two rows by a column (< 0, 0, > 0): by sort key where both have one, unknown
  // keys last, else by compareText (the platform's locale-aware comparison), ties by number.
  [[nodiscard]] int compare(std::size_t a, std::size_t b, ResultColumn column,
                            const std::function<int(const std::string&, const std::string&)>& compareText) const;
  // The marks of a row: its background when the picture changed, its text colour when refused.
  [[nodiscard]] std::optional<Rgb> background(std::size_t row) const;
  [[nodiscard]] std::optional<Rgb> foreground(std::size_t row) const;

  // The widest a capped column (file, owner, verdict) is at first, in pixels at 96 dpi.
  static constexpr int kCappedWidth = 230;
  [[nodiscard]] static bool widthCapped(ResultColumn column);
  // The view's size for columns that want wantedWidth pixels, within 780 × 560 at 96 dpi (scaled
  // by dpi) and never larger than the work area less room for the frame.
  [[nodiscard]] static ViewSize fitSize(int wantedWidth, ViewSize workArea, int dpi);
  // How wide the owner column stays when the columns want more than the fit: it gives way first,
  // down to 120 pixels at 96 dpi.
  [[nodiscard]] static int ownerWidth(int ownerWidth, int wantedWidth, int fitWidth, int dpi);

 private:
  const ResultReport& m_result;
};

}  // namespace falcet
