#pragma once
// The state that export, import and the window share for one run of the program. Start-up makes
// one Session and passes it by reference; tests make a fresh one each.

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/picture_kind.hpp"
#include "transfer/source.hpp"
#include "transfer/source_kind.hpp"

namespace falcet {

struct LogEntry {
  std::int32_t Position = 0;
  std::int32_t RecordedLength = 0;
  std::int32_t FileLength = 0;
  std::int32_t KindIndex = -1;  // 1-based, -1 when no kind has the logged name
  std::string KindName;         // the kind's name as the log gives it
  std::string PictureFile;      // the picture file's name as the log gives it (shown in reports)
  std::string PicturePath;      // where it is opened: relative names from the log's folder
};

struct Session {
  PictureKinds pictureKinds;
  Source source;
  SourceKindValue SourceKind = SourceKindValue::VbExe;
  std::int32_t PictureCounter = 0;
  std::vector<LogEntry> LogEntries;
};

}  // namespace falcet
