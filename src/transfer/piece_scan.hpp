#pragma once
// The scan of a large source read in pieces, on every processor the machine has, with the result
// of the scan of the whole file in memory.
//
// Whether a position matches is a question of the bytes around it alone; only which matches count
// depends on the walk (a picture taken is skipped as a whole). So pieces are read and scanned in
// any order, on several threads, each piece's matches recorded with the skip ignored; the walk
// then takes the pieces in file order, drops the matches that lie inside a picture already taken,
// and hands the others on as the plain scan would, with the piece's bytes still at hand. A piece
// with very many matches (a kind table that matches nearly everywhere) keeps none: the walk scans
// it itself, as the plain scan does.
//
// The walk runs on the caller's thread. While it waits for a piece it reads and scans pieces too,
// and it can hand small jobs to the helper threads (export checks picture files that way). Memory
// stays bounded: a few pieces at a time are read ahead of the walk.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/file_io.hpp"
#include "transfer/picture_scan.hpp"

namespace falcet {

// Work for whichever thread is free. run() may be called on any thread, once.
class SideJob {
 public:
  virtual ~SideJob() = default;
  virtual void run() = 0;
};

// Runs several jobs handed on, each once (jobs that gain from being done together).
using RunJobs = void (*)(std::span<SideJob* const> jobs);

struct PieceScanOptions {
  std::size_t pieceSize = 256 << 10;  // candidate positions per piece
  // Threads besides the caller's; -1: one fewer than the machine's processors, at most 3.
  int helpers = -1;
  // Matches a piece records before it leaves the walk to scan it itself; 0: pieceSize / 16.
  std::size_t matchLimit = 0;
  // Pieces the walk may hold at once after walking them.
  std::size_t held = 1;
  // Runs the jobs a thread takes at once (up to 32); nullptr: each job's run().
  RunJobs runJobs = nullptr;
};

// One piece read: its candidate positions begin .. end - 1, and the bytes from file offset
// windowStart to windowEnd (every byte the kinds may read for those positions).
struct ReadPiece {
  std::int64_t index = -1;
  std::int64_t begin = 0, end = 0;
  std::int64_t windowStart = 0, windowEnd = 0;
  const unsigned char* window = nullptr;
  bool crowded = false;  // more matches than the limit: matches is empty
  std::vector<ScanMatch> matches;
};

class PieceReader {
 public:
  PieceReader(const FileDescriptor& fd, std::int32_t size, const PictureKinds& kinds, bool delphiBlockTest,
              const MarkerFilter& filter, const PieceScanOptions& options);
  // Stops the helpers and waits for them. Jobs handed on and not yet run are not run.
  ~PieceReader();
  PieceReader(const PieceReader&) = delete;
  PieceReader& operator=(const PieceReader&) = delete;

  // The pieces, 0 .. count() - 1, cover positions 0 .. size - 2.
  [[nodiscard]] std::int64_t count() const;
  // Piece i, once read and scanned (meanwhile the caller reads and scans others, or runs jobs);
  // nullptr when it could not be read (the file changed or failed under us). Pieces are asked for
  // in order, and each one stays until released; at most options.held are kept.
  const ReadPiece* await(std::int64_t i);
  // The walk is done with every piece up to and including i.
  void releaseThrough(std::int64_t i);
  // Hands jobs to the helpers (they run them before reading further pieces). A job must stay
  // until it has run, it is taken back, or the reader is gone. (Without helpers, await runs them.)
  void post(const std::vector<SideJob*>& jobs);
  // Takes a job back if no helper has taken it yet: true then (its owner runs it, or not); false
  // when it runs or ran elsewhere.
  bool withdraw(SideJob* job);

  // Walks piece's positions from resume on: each match the plain scan would reach goes to
  // onMatch(match), which returns what the scan skips beyond one byte. Returns where the walk
  // goes on.
  template <typename OnMatch>
  std::int64_t walk(const ReadPiece& piece, std::int64_t resume, OnMatch&& onMatch) const {
    if (resume >= piece.end) return resume;
    if (piece.crowded)
      return scanRange(piece.window, piece.windowStart, m_size, m_kinds, m_delphi, m_filter, m_fastEnd,
                       std::max(resume, piece.begin), piece.end, onMatch);
    for (const ScanMatch& m : piece.matches) {
      if (m.markerPos < resume) continue;  // inside a picture taken
      resume = static_cast<std::int64_t>(m.markerPos) + onMatch(m) + 1;
    }
    return std::max(resume, piece.end);
  }

  struct Shared;

 private:
  std::int32_t m_size;
  const PictureKinds& m_kinds;
  bool m_delphi;
  const MarkerFilter& m_filter;
  std::int64_t m_fastEnd;
  std::unique_ptr<Shared> m_shared;
};

}  // namespace falcet
