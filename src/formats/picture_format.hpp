#pragma once
// The picture formats Falcet tells apart by their first bytes, their names (the extensions of
// FileExt=* and the names of AcceptFormats) and nothing else.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.hpp"

namespace falcet {

enum class PictureFormat { Bmp, Ico, Cur, Gif, Jpg, Png, Wmf, Emf, Bin };

// The format a picture's first bytes name; Bin when none fits.
[[nodiscard]] PictureFormat sniffPictureFormat(ByteSpan bytes);

// "bmp", "ico", "cur", "gif", "jpg", "png", "wmf", "emf", "bin".
[[nodiscard]] std::string_view formatName(PictureFormat format);

// The format of a name (lower case), or nullopt.
[[nodiscard]] std::optional<PictureFormat> formatFromName(std::string_view name);

// The extension that a picture's first bytes name.
[[nodiscard]] inline std::string sniffPictureExtension(const unsigned char* data, std::size_t size) {
  return std::string(formatName(sniffPictureFormat(ByteSpan(data, size))));
}

}  // namespace falcet
