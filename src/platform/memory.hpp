#pragma once
// Large buffers straight from the system (anonymous mappings with transparent huge pages where
// available; VirtualAlloc on Windows), not zero-filled by the program.

#include <cstddef>

namespace falcet {

// size bytes, or nullptr when the system has none to give.
[[nodiscard]] void* allocateLarge(std::size_t size);
void freeLarge(void* data, std::size_t size);

}  // namespace falcet
