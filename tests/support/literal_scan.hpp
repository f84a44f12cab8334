#pragma once
// The reference scan: every position tested in turn, every marker byte compared, exactly as the
// export rule reads. The fast scan must give the same matches.

#include <cstdint>
#include <functional>
#include <vector>

#include "transfer/picture_walk.hpp"

namespace falcet::testing {

// Calls onMatch for each match in scan order; its result is the skip beyond one byte.
void literalScan(const unsigned char* bytes, std::int32_t size, const PictureKinds& kinds,
                 bool delphiBlockTest, const std::function<std::int32_t(const ScanMatch&)>& onMatch);

}  // namespace falcet::testing
