#pragma once
// Import: the pictures named in a log go back into the source. Executables are patched in place
// (a picture may shrink, zero-filled, but not grow); form files are rebuilt (a picture may change
// size, and its length fields are rewritten). The new content is written to a temporary file
// beside the source and moved into place only after it was written whole, and the previous
// source is kept as "<source>.bak".

#include <string>

#include "transfer/result.hpp"
#include "transfer/session.hpp"

namespace falcet {

enum class ImportOutcome {
  Failed,   // nothing written: the log, the source or the write failed (already reported)
  Partial,  // written, but some picture was not imported (its verdict says why)
  Done,     // written with every picture imported
};

// What import does with a program that carries an Authenticode signature, which no longer
// verifies once anything in the file changes: refuse it (nothing written), remove the signature,
// or ask the user (a yes/no question; "no" refuses).
enum class SignedPrograms { Refuse, RemoveSignature, Ask };

ImportOutcome ImportPictures(Session& session, std::string logName, ResultSink& sink,
                             SignedPrograms signedPrograms = SignedPrograms::Refuse);

// Whether a file is there. Reports an unexpected error (other than a missing file or folder)
// with its number under the title "錯誤" and then answers true.
[[nodiscard]] bool FileExists(const std::string& name, MessageSink& sink);


}  // namespace falcet
