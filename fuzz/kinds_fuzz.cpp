// The picture kinds loader on arbitrary settings text: it either loads a table that holds the
// values it read, or names the section (and key) it failed on, and leaves the table untouched.

#include <clocale>
#include <cstdint>

#include "fuzz_support.hpp"
#include "settings/ini_file.hpp"
#include "transfer/picture_kind.hpp"

using namespace falcet;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto file = fuzz::scratchFolder() / "Falcet.ini";
  fuzz::writeFileBytes(file, bytes);
  IniFile ini(fuzz::scratchFolder(), "Falcet");
  ini.useFile(file);

  PictureKind sentinel;
  sentinel.Name = "sentinel";
  PictureKinds table{sentinel};
  const KindsLoadResult result = LoadPictureKinds(ini, table);
  const std::string message = describeKindsError(result, file);
  if (result.ok()) {
    fuzz::check(!table.empty() && table.size() <= 999, "a loaded table of impossible size");
    for (const auto& k : table) {
      fuzz::check(!k.Name.empty(), "a kind without a name");
      fuzz::check(ini.hasSection(k.Name), "a kind whose section is missing");
    }
  } else {
    fuzz::check(table.size() == 1 && table[0] == sentinel, "a failed load changed the table");
    fuzz::check(!message.empty(), "a failed load without a message");
    if (result.status != KindsLoadResult::Status::NoKinds)
      fuzz::check(!result.section.empty(), "a settings error without its section");
  }
  return 0;
}
