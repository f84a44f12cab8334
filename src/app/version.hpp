#pragma once
// The version text: product name, a blank, major "." minor, a revision letter when the revision
// is above 0 ("B" for 1, "C" for 2, ...), and " 版".

#include <string>

namespace falcet {

inline std::string versionText(const std::string& product, int major, int minor, int revision) {
  std::string s = product + " " + std::to_string(major) + "." + std::to_string(minor);
  if (revision > 0) s += static_cast<char>('A' + revision);
  return s + " 版";
}

}  // namespace falcet
