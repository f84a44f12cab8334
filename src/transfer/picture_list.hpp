#pragma once
// What export would find in a source, without writing anything: each picture with the number
// export would give it (numbers used up by empty matches stay gaps), its place and the facts its
// own header states, and who it belongs to where the source's layout says it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/picture_facts.hpp"
#include "transfer/result.hpp"
#include "transfer/session.hpp"

namespace falcet {

struct FoundPicture {
  std::int32_t number = 0;
  std::int32_t position = 0;
  std::int32_t length = 0;
  std::size_t kind = 0;  // 0-based index into the kind table
  PictureFacts facts;
  std::optional<std::string> owner;  // see owners.hpp
};

// A binary property value of a Delphi form that holds no picture a kind found, but starts with a
// picture's signature (at its start, after a class name, or after a length): what is missing.
struct UnknownPicture {
  std::string property;  // the value's path (UTF-8)
  std::string format;    // bmp, png, ... as PictureFacts names it
  std::int64_t position = 0;  // where the signature lies (for a text form, in its binary view)
};

struct ListDetails {
  ResultSink* progress = nullptr;  // given: told how far the scan is
  std::vector<UnknownPicture> unknown;
  std::size_t badTextLine = 0;  // a form saved as text that could not be read: the line where
};

// nullopt when the source cannot be loaded (as export: missing, empty, unreadable, 2 GiB or more,
// a form saved as text that cannot be read).
[[nodiscard]] std::optional<std::vector<FoundPicture>> ListPictures(Session& session, std::string path,
                                                                    ListDetails* details = nullptr);

}  // namespace falcet
