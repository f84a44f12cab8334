#include "platform/memory.hpp"

#include <sys/mman.h>

namespace falcet {

void* allocateLarge(std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  ::madvise(p, size, MADV_HUGEPAGE);
#endif
  return p;
}

void freeLarge(void* data, std::size_t size) { ::munmap(data, size); }

}  // namespace falcet
