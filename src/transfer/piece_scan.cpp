#include "transfer/piece_scan.hpp"

#include <atomic>
#include <deque>
#include <new>

#include "platform/threads.hpp"
#include "transfer/source.hpp"

namespace falcet {

// How long a helper spins with nothing to do before it sleeps: some tens of microseconds.
constexpr int kSpins = 2000;

constexpr std::size_t kHugePage = 2u << 20;

// Jobs a thread takes at once.
constexpr std::size_t kJobBatch = 32;

// One piece read and scanned, waiting for the walk.
struct Slot {
  bool ready = false;
  bool readOk = true;
  ReadPiece piece;
  std::size_t buffer = 0;  // the buffer that holds its window
  std::size_t reader = 0;  // the thread that read it (0: the walk's)
};

// What the threads share, guarded by lock: the slots (piece i lives in slot i % slots.size()),
// the pieces claimed and released, and the jobs handed on.
struct PieceReader::Shared {
  Shared(const FileDescriptor& source, std::int32_t sourceSize, const PictureKinds& kindTable, bool delphiBlockTest,
         const MarkerFilter& markerFilter, const PieceScanOptions& options, std::size_t slotCount)
      : fd(source), size(sourceSize), kinds(kindTable), delphi(delphiBlockTest), filter(markerFilter),
        pieceSize(static_cast<std::int64_t>(std::max<std::size_t>(options.pieceSize, 1))),
        matchLimit(options.matchLimit ? options.matchLimit : std::max<std::size_t>(options.pieceSize / 16, 1)),
        reach(readReach(kindTable, delphiBlockTest)), last(static_cast<std::int64_t>(sourceSize) - 2),
        fastEnd(filterEnd(markerFilter, sourceSize)), runJobs(options.runJobs),
        count(last < 0 ? 0 : (last + pieceSize) / pieceSize), slots(slotCount),
        bufferSize(roundUp(static_cast<std::size_t>(pieceSize + reach.before + reach.after + 2), 64)),
        buffers(count > 0 ? roundUp(slotCount * bufferSize, kHugePage) : 0) {}

  static std::size_t roundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

  Slot& slotOf(std::int64_t i) { return slots[static_cast<std::size_t>(i) % slots.size()]; }

  // What the helper threads do: jobs first, then pieces, until the reader is done. With nothing
  // to do a helper spins a little before it sleeps: the walk frees a slot every few dozen
  // microseconds, and waking a sleeping thread costs more than that on some virtual machines.
  void help(std::size_t thread) {
    Locked held(lock);
    while (!stop) {
      if (runJob() || scanNext(thread)) continue;
      const std::uint64_t seen = events;
      lock.unlock();
      for (int k = 0; k < kSpins && events.load(std::memory_order_relaxed) == seen; ++k) pauseBriefly();
      lock.lock();
      if (events != seen) continue;
      ++waiting;
      lock.wait();
      --waiting;
    }
  }

  // Something a helper may wait for happened; with the lock held.
  void happened() {
    events.fetch_add(1, std::memory_order_relaxed);
    if (waiting > 0) lock.wakeAll();
  }

  // Runs the jobs handed on (up to kJobBatch of them), without the lock; false when there are
  // none. With the lock held.
  bool runJob() {
    if (jobs.empty()) return false;
    SideJob* taken[kJobBatch];
    const std::size_t n = std::min(jobs.size(), kJobBatch);
    std::copy_n(jobs.begin(), n, taken);
    jobs.erase(jobs.begin(), jobs.begin() + static_cast<std::ptrdiff_t>(n));
    lock.unlock();
    if (runJobs) runJobs(std::span<SideJob* const>(taken, n));
    else
      for (std::size_t k = 0; k < n; ++k) taken[k]->run();
    lock.lock();
    return true;
  }

  // Claims the next piece whose slot is free, and reads and scans it without the lock; false when
  // there is none to claim now. With the lock held.
  //
  // Each thread reads into the buffer it used last where it can: a copy into memory that is still
  // in the processor's cache costs about half of one into memory that is not.
  bool scanNext(std::size_t thread) {
    if (next >= count || next >= released + static_cast<std::int64_t>(slots.size())) return false;
    const std::int64_t i = next++;
    Slot& slot = slotOf(i);
    std::vector<std::size_t>* pool = &freeBuffers[thread];
    for (std::size_t t = 0; pool->empty(); ++t) pool = &freeBuffers[t];  // there is one per slot
    slot.buffer = pool->back();
    pool->pop_back();
    slot.reader = thread;
    lock.unlock();
    try {
      fill(slot, i);
    } catch (const std::bad_alloc&) {
      slot.readOk = false;  // the walk stops there, as for a read that failed
    }
    lock.lock();
    slot.ready = true;
    if (walkerWants == i) lock.wakeAll();
    return true;
  }

  void fill(Slot& slot, std::int64_t i) {
    ReadPiece& piece = slot.piece;
    piece.index = i;
    piece.begin = i * pieceSize;
    piece.end = std::min(last + 1, (i + 1) * pieceSize);
    piece.windowStart = std::max<std::int64_t>(0, piece.begin - reach.before);
    piece.windowEnd = std::min<std::int64_t>(size, piece.end + reach.after + 1);
    unsigned char* bytes = buffers.data() ? buffers.data() + slot.buffer * bufferSize : nullptr;
    piece.window = bytes;
    piece.matches.clear();
    piece.crowded = false;
    slot.readOk = bytes && readAllAt(fd, piece.windowStart, bytes,
                                     static_cast<std::size_t>(piece.windowEnd - piece.windowStart));
    if (!slot.readOk) return;
    scanRange(bytes, piece.windowStart, size, kinds, delphi, filter, fastEnd, piece.begin, piece.end,
              [&](const ScanMatch& m) {
                if (piece.matches.size() < matchLimit) {
                  piece.matches.push_back(m);
                  return std::int32_t{0};
                }
                piece.crowded = true;
                piece.matches.clear();
                return static_cast<std::int32_t>(piece.end - m.markerPos - 1);  // the rest of the piece
              });
  }

  const FileDescriptor& fd;
  std::int32_t size;
  const PictureKinds& kinds;
  bool delphi;
  const MarkerFilter& filter;
  std::int64_t pieceSize;
  std::size_t matchLimit;
  ReadReach reach;
  std::int64_t last, fastEnd;
  RunJobs runJobs;
  std::int64_t count;

  WaitLock lock;
  std::vector<Slot> slots;
  std::size_t bufferSize;
  // One buffer per slot, each used by one slot at a time, in one block of whole huge pages: taking
  // each of its pages from the system one at a time cost more than reading a piece into it.
  ByteBuffer buffers;
  std::vector<std::vector<std::size_t>> freeBuffers;     // per thread, the last one freed at the back
  std::int64_t next = 0;          // the next piece to claim
  std::int64_t released = 0;      // pieces the walk is done with
  std::int64_t walkerWants = -1;  // the piece the walk waits for
  std::deque<SideJob*> jobs;
  std::atomic<std::uint64_t> events{0};  // counts what happened() (changed under the lock only)
  int waiting = 0;  // helpers sleeping
  bool stop = false;
  std::vector<std::unique_ptr<HelperThread>> helpers;
};

PieceReader::PieceReader(const FileDescriptor& fd, std::int32_t size, const PictureKinds& kinds,
                         bool delphiBlockTest, const MarkerFilter& filter, const PieceScanOptions& options)
    : m_size(size), m_kinds(kinds), m_delphi(delphiBlockTest), m_filter(filter), m_fastEnd(filterEnd(filter, size)) {
  const int helpers = options.helpers >= 0 ? options.helpers
                                           : static_cast<int>(std::min(processorCount(), 4u)) - 1;
  // Each thread may read up to three pieces ahead of the walk.
  const std::size_t slots = std::max<std::size_t>(options.held, 1) + 3 * static_cast<std::size_t>(helpers + 1);
  m_shared = std::make_unique<Shared>(fd, size, kinds, delphiBlockTest, filter, options, slots);
  const int threads = m_shared->count > 1 ? helpers : 0;
  m_shared->freeBuffers.resize(static_cast<std::size_t>(threads) + 1);
  for (std::size_t b = 0; b < slots; ++b) m_shared->freeBuffers[b % m_shared->freeBuffers.size()].push_back(b);
  for (int h = 1; h <= threads; ++h) {
    Shared* shared = m_shared.get();
    const auto thread = static_cast<std::size_t>(h);
    m_shared->helpers.push_back(std::make_unique<HelperThread>([shared, thread] { shared->help(thread); }));
  }
}

PieceReader::~PieceReader() {
  {
    Locked held(m_shared->lock);
    m_shared->stop = true;
    m_shared->happened();
    m_shared->lock.wakeAll();
  }
  m_shared->helpers.clear();  // waits for each
}

std::int64_t PieceReader::count() const { return m_shared->count; }

const ReadPiece* PieceReader::await(std::int64_t i) {
  Shared& s = *m_shared;
  Locked held(s.lock);
  Slot& slot = s.slotOf(i);
  while (!(slot.ready && slot.piece.index == i)) {
    if (s.runJob() || s.scanNext(0)) continue;
    s.walkerWants = i;
    s.lock.wait();
    s.walkerWants = -1;
  }
  return slot.readOk ? &slot.piece : nullptr;
}

void PieceReader::releaseThrough(std::int64_t i) {
  Shared& s = *m_shared;
  Locked held(s.lock);
  for (std::int64_t k = s.released; k <= i; ++k) {
    Slot& slot = s.slotOf(k);
    slot.ready = false;
    s.freeBuffers[slot.reader].push_back(slot.buffer);
  }
  s.released = std::max(s.released, i + 1);
  s.happened();
}

void PieceReader::post(const std::vector<SideJob*>& jobs) {
  if (jobs.empty()) return;
  Shared& s = *m_shared;
  Locked held(s.lock);
  s.jobs.insert(s.jobs.end(), jobs.begin(), jobs.end());
  s.happened();
}

bool PieceReader::withdraw(SideJob* job) {
  Shared& s = *m_shared;
  Locked held(s.lock);
  const auto at = std::find(s.jobs.begin(), s.jobs.end(), job);
  if (at == s.jobs.end()) return false;
  s.jobs.erase(at);
  return true;
}

}  // namespace falcet
