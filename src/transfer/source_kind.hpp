#pragma once
// The four kinds of source, in the order of the window's list (and of texts::kSourceKindNames).
// Executables are patched in place; form files are rebuilt. Delphi sources get the property
// block test in the scan.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace falcet {

enum class SourceKindValue : std::int32_t { VbExe = 0, VbBin = 1, DelphiExe = 2, DelphiDfm = 3 };

[[nodiscard]] constexpr bool isDelphi(SourceKindValue k) {
  return k == SourceKindValue::DelphiExe || k == SourceKindValue::DelphiDfm;
}

[[nodiscard]] constexpr bool isFormFile(SourceKindValue k) {
  return k == SourceKindValue::VbBin || k == SourceKindValue::DelphiDfm;
}

// The list index of a kind and back; the one place where the window's list meets the enum.
[[nodiscard]] constexpr int sourceKindIndex(SourceKindValue k) { return static_cast<int>(k); }
[[nodiscard]] constexpr std::optional<SourceKindValue> sourceKindFromIndex(int index) {
  if (index < 0 || index > 3) return std::nullopt;
  return static_cast<SourceKindValue>(index);
}

// The command line's names of the kinds, in list order.
inline constexpr std::array<std::string_view, 4> kSourceKindOptions = {"vb-exe", "vb-bin",
                                                                       "delphi-exe", "delphi-dfm"};

[[nodiscard]] constexpr std::string_view sourceKindOption(SourceKindValue k) {
  return kSourceKindOptions[static_cast<std::size_t>(sourceKindIndex(k))];
}

[[nodiscard]] constexpr std::optional<SourceKindValue> sourceKindFromOption(std::string_view name) {
  for (std::size_t i = 0; i < kSourceKindOptions.size(); ++i)
    if (kSourceKindOptions[i] == name) return sourceKindFromIndex(static_cast<int>(i));
  return std::nullopt;
}

}  // namespace falcet
