// The owner readers on arbitrary bytes: Delphi form streams anywhere in them, a VB program's form
// table, and a VB companion text (the input up to its first zero byte) over a blob file (the
// rest). Every range they give lies inside the bytes it was read from, runs forward and names an
// owner; nothing is read outside the input (the sanitizer build checks).

#include <clocale>
#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"
#include "transfer/owners.hpp"

using namespace falcet;

namespace {

void checkRanges(const std::vector<OwnedRange>& ranges, std::size_t size) {
  for (const OwnedRange& r : ranges) {
    fuzz::check(r.begin >= 0 && r.begin <= r.end, "a range that runs backwards");
    fuzz::check(r.end <= static_cast<std::int64_t>(size), "a range past the end of the bytes");
    fuzz::check(!r.owner.empty(), "a range without an owner");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the input's size, so that a read past its end is caught.
  std::vector<unsigned char> bytes(data, data + size);
  const ByteSpan all(bytes.data(), bytes.size());
  checkRanges(delphiStreamOwners(all), size);
  checkRanges(vbProgramOwners(all), size);
  std::size_t split = 0;
  while (split < size && bytes[split] != 0) ++split;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), split);
  const std::size_t blobStart = split < size ? split + 1 : size;
  const ByteSpan blob(bytes.data() + blobStart, size - blobStart);
  checkRanges(vbCompanionOwners(text, "Form1.frx", blob), blob.size());
  return 0;
}
