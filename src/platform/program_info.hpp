#pragma once
// What the program knows about itself: its folder, its file name and its version.

#include <filesystem>
#include <string>

namespace falcet {

inline constexpr const char* kProductName = "Falcet";
inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 91;
inline constexpr int kVersionRevision = 0;

// The running program's own file (/proc/self/exe; GetModuleFileNameW on Windows); empty when it
// cannot be found.
[[nodiscard]] std::filesystem::path programFile();

// The folder that holds the running program; the current folder when it cannot be found.
[[nodiscard]] std::filesystem::path programFolder();

}  // namespace falcet
