#include "platform/memory.hpp"

#include <windows.h>

namespace falcet {

void* allocateLarge(std::size_t size) {
  return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freeLarge(void* data, std::size_t) { ::VirtualFree(data, 0, MEM_RELEASE); }

}  // namespace falcet
