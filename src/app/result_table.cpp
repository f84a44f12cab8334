#include "app/result_table.hpp"

#include <algorithm>

#include "formats/vb_form_text.hpp"
#include "texts/texts.hpp"

namespace falcet {
namespace {

int scaled(int pixels, int dpi) { return pixels * dpi / 96; }

}  // namespace

std::vector<ResultColumn> ResultTable::displayOrder() const {
  using C = ResultColumn;
  if (isImport()) return {C::Thumbnail, C::Number, C::Changed, C::Verdict, C::File, C::Format, C::Size, C::Bytes, C::Owner};
  return {C::Thumbnail, C::Number, C::File, C::Format, C::Size, C::Bytes, C::Owner};
}

std::string ResultTable::heading(ResultColumn column) {
  return std::string(texts::result::kColumns[static_cast<std::size_t>(column)]);
}

bool ResultTable::alignsRight(ResultColumn column) {
  return column == ResultColumn::Number || column == ResultColumn::Bytes;
}

std::string ResultTable::cellText(std::size_t i, ResultColumn column) const {
  const ResultRow& r = row(i);
  const std::string unknown(texts::result::kUnknown);
  switch (column) {
    case ResultColumn::Thumbnail: return {};
    case ResultColumn::Number: return std::to_string(r.number);
    case ResultColumn::File: return std::string(lastNameComponent(r.path));
    case ResultColumn::Format: return r.format.empty() ? unknown : r.format;
    case ResultColumn::Size:
      return r.width && r.height ? std::to_string(*r.width) + "\u00D7" + std::to_string(*r.height) : unknown;
    case ResultColumn::Bytes: return std::to_string(r.bytes);
    case ResultColumn::Owner: return r.owner ? *r.owner : unknown;
    case ResultColumn::Verdict: return r.verdict;
    case ResultColumn::Changed: return r.changed ? std::string(texts::result::kChanged) : std::string();
  }
  return {};
}

std::optional<std::int64_t> ResultTable::sortKey(std::size_t i, ResultColumn column) const {
  const ResultRow& r = row(i);
  switch (column) {
    case ResultColumn::Number: return r.number;
    case ResultColumn::Size:
      if (r.width && r.height) return std::int64_t{*r.width} * *r.height;
      return std::nullopt;
    case ResultColumn::Bytes: return r.bytes;
    case ResultColumn::Changed: return r.changed ? 1 : 0;
    default: return std::nullopt;
  }
}

int ResultTable::compare(std::size_t a, std::size_t b, ResultColumn column,
                         const std::function<int(const std::string&, const std::string&)>& compareText) const {
  const auto ka = sortKey(a, column), kb = sortKey(b, column);
  int order = 0;
  if (ka && kb) order = *ka < *kb ? -1 : *ka > *kb ? 1 : 0;
  else if (ka || kb) return ka ? -1 : 1;  // unknown values last
  else order = compareText(cellText(a, column), cellText(b, column));
  if (order == 0) order = row(a).number < row(b).number ? -1 : row(a).number > row(b).number ? 1 : 0;
  return order;
}

std::optional<Rgb> ResultTable::background(std::size_t i) const {
  return row(i).changed ? std::optional<Rgb>(kChangedBackground) : std::nullopt;
}

std::optional<Rgb> ResultTable::foreground(std::size_t i) const {
  return isImport() && !row(i).imported ? std::optional<Rgb>(kRefusedText) : std::nullopt;
}

bool ResultTable::widthCapped(ResultColumn column) {
  return column == ResultColumn::File || column == ResultColumn::Owner || column == ResultColumn::Verdict;
}

ViewSize ResultTable::fitSize(int wantedWidth, ViewSize area, int dpi) {
  const int maxWidth = std::max(1, std::min(scaled(780, dpi), area.width - scaled(20, dpi)));
  const int maxHeight = std::max(1, std::min(scaled(560, dpi), area.height - scaled(40, dpi)));
  return {std::min(std::max(wantedWidth, scaled(520, dpi)), maxWidth), maxHeight};
}

int ResultTable::ownerWidth(int ownerWidth, int wantedWidth, int fitWidth, int dpi) {
  if (wantedWidth <= fitWidth) return ownerWidth;
  return std::max(scaled(120, dpi), ownerWidth - (wantedWidth - fitWidth));
}

}  // namespace falcet
