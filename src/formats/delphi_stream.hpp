#pragma once
// Delphi binary form streams ("TPF0", then one object): an object is an optional flags byte
// (F0..FF; flag 2 means a child position, an integer value, follows), the class and object names
// as short strings, its properties (name, value tag, value) until a zero byte, its children until
// a zero byte. A binary .dfm file puts a resource header before the stream.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"
#include "formats/byte_reader.hpp"

namespace falcet {

// One binary property value: its bytes [begin, end) after the u32 length, and its path as the
// stream spells it ("TForm1.Image1.Picture.Data", collection items "Bitmap[0].PNG"), in the
// stream's own bytes (UTF-8 in Unicode Delphi, the ANSI code page before it).
struct DelphiBinaryValue {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  std::string path;
};

struct DelphiStream {
  std::vector<DelphiBinaryValue> values;  // in stream order, those read before any break
  bool whole = false;                     // the stream was read to its end
  std::int64_t end = 0;                   // where it ended, or where it broke
};

// Reads the stream whose "TPF0" lies at signature.
[[nodiscard]] DelphiStream readDelphiStream(ByteWindow& bytes, std::int64_t signature);

// Every binary property value of every form stream in bytes; a broken stream keeps what it read
// before the break. A "TPF0" inside what a stream read (whole, or up to where it broke) is no
// stream of its own.
[[nodiscard]] std::vector<DelphiBinaryValue> delphiBinaryValues(const ByteReader& bytes);

// A binary .dfm file's resource header: FF 0A 00, the class name, a zero byte, 30 10, the stream
// size as u32, then "TPF0". Where the size field lies, when bytes start with such a header.
[[nodiscard]] std::optional<std::size_t> dfmHeaderSizeField(ByteSpan bytes);

}  // namespace falcet
