#pragma once
// The window's and the picture buttons' icons, drawn in code at the size asked (crisp at any DPI).

#include <windows.h>

namespace falcet::win {

enum class IconKind { Window, Export, Import };

// An icon of size x size pixels (32-bit with alpha); the caller destroys it.
HICON makeIcon(IconKind kind, int size);

}  // namespace falcet::win
