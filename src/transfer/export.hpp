#pragma once
// Export: every picture found in a source goes to its own numbered file beside the source, and
// one line per picture goes to the log "<source>.pic.log":
//
//   position ":" length ":" kind name ":" picture file CR LF
//
// position and length in decimal ("-" before a negative value), the name and the file as text in
// the locale's character set. The picture file is "<source>.<number>.<ext>", number with at least
// three digits.

#include <cstdint>
#include <string>

#include "transfer/result.hpp"
#include "transfer/picture_scan.hpp"
#include "transfer/session.hpp"
#include "util/list_value.hpp"

namespace falcet {

// Runs one export of the source at path (as typed; the source is read from the trimmed path while
// the log and picture files are named from path as given). An export that finds no picture says
// so and leaves an existing log as it was. Reports to the user through sink.
// True when the source loaded, the log was written and every picture found was written; a picture
// file that could not be written is left out of the log and named in an error message at the end.
bool ExportPictures(Session& session, std::string& path, ResultSink& sink);

// How export reads its source. A large source is read in pieces of pieceSize bytes into one
// buffer (the result is the same as with the whole file in memory); pieceSize 0 chooses the
// default and keeps small sources whole. Tests set a small piece size to cross piece borders,
// the number of threads that read and scan pieces beside the caller's (-1: as the machine has
// processors), and how many matches a piece records before the walk scans it itself (0: the
// default).
struct ExportReading {
  std::size_t pieceSize = 0;
  int helpers = -1;
  std::size_t matchLimit = 0;
};
bool ExportPictures(Session& session, std::string& path, ResultSink& sink, ExportReading reading);

// What export does with a picture file that differs from the picture the source holds at its
// place (the user edited it after the last export): overwrite it, keep it (export then fails,
// naming the files, so that nothing is lost unnoticed), or ask once how many there are (a yes/no
// question; "no" keeps them). A kept file stays in the log: the next import puts the edit in.
enum class EditedPictures { Overwrite, Keep, Ask };
bool ExportPictures(Session& session, std::string& path, ResultSink& sink, ExportReading reading,
                    EditedPictures edited);

// The picture file name of picture number n.
[[nodiscard]] std::string pictureFileName(const std::string& sourcePath, std::int32_t number,
                                          const std::string& ext);

}  // namespace falcet
