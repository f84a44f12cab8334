#pragma once
// What export would find in a source, without writing anything: each picture with the number
// export would give it (numbers used up by empty matches stay gaps), its place and the facts its
// own header states, and who it belongs to where the source's layout says it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/picture_facts.hpp"
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

// nullopt when the source cannot be loaded (as export: missing, empty, unreadable, 2 GiB or more).
[[nodiscard]] std::optional<std::vector<FoundPicture>> ListPictures(Session& session, std::string path);

}  // namespace falcet
