#pragma once
// Reading the log back for import.

#include <filesystem>
#include <string>

#include "platform/message_sink.hpp"
#include "transfer/session.hpp"

namespace falcet {

// Reads every non-empty line of the log into session.LogEntries, measuring each picture file and
// finding its kind by name. False after telling the user why (a name of 8 characters or fewer,
// an unreadable log, a missing or empty picture file, a number out of range, no line at all).
[[nodiscard]] bool ReadLog(Session& session, const std::string& logName, MessageSink& sink);

// The path to open for a picture file named in a log: a relative name is taken relative to the
// log's folder (the current folder plays no part); an absolute or empty name stays as it is.
[[nodiscard]] std::string picturePath(const std::filesystem::path& logFolder,
                                      const std::string& pictureFile);

// Whether a name is a log name: at least 9 characters whose last 8, lower-cased, are ".pic.log".
[[nodiscard]] bool isLogFileName(std::string_view name);

// Number of characters (code points) of a UTF-8 text.
[[nodiscard]] std::size_t characterCount(std::string_view text);

}  // namespace falcet
