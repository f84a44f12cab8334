// Many "does this file hold exactly these bytes" questions at once. On Linux they go to the kernel
// together through an io_uring ring of the calling thread's own: each file is opened, read and
// closed in one chain, and a batch costs one system call instead of three a file (which cost more
// than the work itself on a virtual machine). Where the ring cannot be had (an old kernel, a
// sandbox that forbids it), or for any answer it leaves in doubt, each file is asked on its own.

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <vector>

#include "platform/file_io.hpp"

#if defined(__linux__) && __has_include(<linux/io_uring.h>)
#include <linux/fs.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#define FALCET_IO_URING 1
#endif

namespace falcet {

#ifdef FALCET_IO_URING
namespace {

// Files asked about in one submission: three entries each.
constexpr unsigned kBatch = 32;

class Ring {
 public:
  Ring() {
    io_uring_params params{};
    // Every entry submitted even where one fails, so that a batch is never taken in part.
    params.flags = IORING_SETUP_SUBMIT_ALL;
    m_fd = static_cast<int>(::syscall(__NR_io_uring_setup, kBatch * 4, &params));
    if (m_fd < 0) return;
    if (!(params.features & IORING_FEAT_SINGLE_MMAP) || !(params.features & IORING_FEAT_NODROP)) {
      close();
      return;
    }
    m_ringSize = std::max<std::size_t>(params.sq_off.array + params.sq_entries * sizeof(unsigned),
                                       params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe));
    m_ring = ::mmap(nullptr, m_ringSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd, IORING_OFF_SQ_RING);
    if (m_ring == MAP_FAILED) {
      close();
      return;
    }
    m_entriesSize = params.sq_entries * sizeof(io_uring_sqe);
    void* entries = ::mmap(nullptr, m_entriesSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd,
                           IORING_OFF_SQES);
    if (entries == MAP_FAILED) {
      close();
      return;
    }
    m_entries = static_cast<io_uring_sqe*>(entries);
    auto* base = static_cast<char*>(m_ring);
    m_sqTail = reinterpret_cast<unsigned*>(base + params.sq_off.tail);
    m_sqMask = *reinterpret_cast<unsigned*>(base + params.sq_off.ring_mask);
    m_sqArray = reinterpret_cast<unsigned*>(base + params.sq_off.array);
    m_cqHead = reinterpret_cast<unsigned*>(base + params.cq_off.head);
    m_cqTail = reinterpret_cast<unsigned*>(base + params.cq_off.tail);
    m_cqMask = *reinterpret_cast<unsigned*>(base + params.cq_off.ring_mask);
    m_cqes = reinterpret_cast<io_uring_cqe*>(base + params.cq_off.cqes);
    // A table of files that lives in the ring only: the files opened never get a descriptor.
    std::vector<int> empty(kBatch, -1);
    if (::syscall(__NR_io_uring_register, m_fd, IORING_REGISTER_FILES, empty.data(), kBatch) < 0) {
      close();
      return;
    }
    m_usable = true;
  }
  ~Ring() { close(); }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  [[nodiscard]] bool usable() const { return m_usable; }

  // Answers up to kBatch checks; false when the ring failed (the answers are then not given).
  // A file whose read would have waited is asked again on its own.
  bool ask(HeldCheck* checks, std::size_t n, std::vector<std::string>& buffers) {
    unsigned tail = *m_sqTail;
    for (std::size_t k = 0; k < n; ++k) {
      buffers[k].resize(checks[k].data.size() + 1);
      const auto slot = static_cast<unsigned>(k);
      io_uring_sqe* open = next(tail);
      open->opcode = IORING_OP_OPENAT;
      open->fd = AT_FDCWD;
      open->addr = reinterpret_cast<std::uintptr_t>(checks[k].path->c_str());
      open->open_flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
      open->file_index = slot + 1;
      open->flags = IOSQE_IO_LINK;  // the read only if the open succeeded
      open->user_data = k * 3;
      io_uring_sqe* read = next(tail);
      read->opcode = IORING_OP_READ;
      read->fd = static_cast<int>(slot);
      read->flags = IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;  // the close whatever the read gave
      read->addr = reinterpret_cast<std::uintptr_t>(buffers[k].data());
      read->len = static_cast<unsigned>(buffers[k].size());
      read->off = 0;
      read->rw_flags = RWF_NOWAIT;  // a pipe or a file not in memory: in doubt, never waited on
      read->user_data = k * 3 + 1;
      io_uring_sqe* close = next(tail);
      close->opcode = IORING_OP_CLOSE;
      close->file_index = slot + 1;
      close->user_data = k * 3 + 2;
    }
    __atomic_store_n(m_sqTail, tail, __ATOMIC_RELEASE);
    // One call submits the chains and waits for them all. Should the kernel take fewer than all
    // (it then does not wait), what it took is waited for and the ring is given up.
    const auto count = static_cast<unsigned>(n * 3);
    unsigned submitted = 0, done = 0;
    bool refused = false;
    std::vector<int> reads(n, -ECANCELED);
    for (;;) {
      unsigned head = *m_cqHead;
      for (; head != __atomic_load_n(m_cqTail, __ATOMIC_ACQUIRE); ++head, ++done) {
        const io_uring_cqe& c = m_cqes[head & m_cqMask];
        if (c.user_data % 3 == 1) reads[c.user_data / 3] = c.res;
      }
      __atomic_store_n(m_cqHead, head, __ATOMIC_RELEASE);
      const unsigned toSubmit = refused ? 0 : count - submitted;
      if (toSubmit == 0 && done >= submitted) break;
      const long r = ::syscall(__NR_io_uring_enter, m_fd, toSubmit, (toSubmit ? count : submitted) - done,
                               IORING_ENTER_GETEVENTS, nullptr, 0);
      if (r < 0) {
        if (errno == EINTR) continue;
        if (toSubmit) {
          refused = true;
          continue;
        }
        m_usable = false;  // entries may still be under way: the ring is not used again
        return false;
      }
      if (toSubmit) {
        submitted += static_cast<unsigned>(r);
        refused = static_cast<unsigned>(r) < toSubmit;
      }
    }
    if (refused) {
      m_usable = false;
      return false;
    }
    for (std::size_t k = 0; k < n; ++k) {
      HeldCheck& check = checks[k];
      const std::size_t size = check.data.size();
      if (reads[k] == -EAGAIN || reads[k] == -EINTR) check.held = fileHoldsExactly(*check.path, check.data);
      else check.held = reads[k] == static_cast<int>(size) && std::memcmp(buffers[k].data(), check.data.data(), size) == 0;
    }
    return true;
  }

 private:
  io_uring_sqe* next(unsigned& tail) {
    const unsigned at = tail & m_sqMask;
    io_uring_sqe* e = &m_entries[at];
    std::memset(e, 0, sizeof *e);
    m_sqArray[at] = at;
    ++tail;
    return e;
  }

  void close() {
    m_usable = false;
    if (m_entries) ::munmap(m_entries, m_entriesSize);
    if (m_ring && m_ring != MAP_FAILED) ::munmap(m_ring, m_ringSize);
    if (m_fd >= 0) ::close(m_fd);
    m_entries = nullptr;
    m_ring = nullptr;
    m_fd = -1;
  }

  int m_fd = -1;
  bool m_usable = false;
  void* m_ring = nullptr;
  std::size_t m_ringSize = 0;
  io_uring_sqe* m_entries = nullptr;
  std::size_t m_entriesSize = 0;
  unsigned* m_sqTail = nullptr;
  unsigned m_sqMask = 0;
  unsigned* m_sqArray = nullptr;
  unsigned* m_cqHead = nullptr;
  unsigned* m_cqTail = nullptr;
  unsigned m_cqMask = 0;
  io_uring_cqe* m_cqes = nullptr;
};

}  // namespace
#endif

void filesHoldExactly(std::span<HeldCheck> checks) {
  std::size_t from = 0;
#ifdef FALCET_IO_URING
  // A single file gains nothing from the ring.
  if (checks.size() > 1) {
    thread_local Ring ring;
    thread_local std::vector<std::string> buffers(kBatch);
    while (from < checks.size() && ring.usable()) {
      const std::size_t n = std::min<std::size_t>(kBatch, checks.size() - from);
      if (!ring.ask(&checks[from], n, buffers)) break;
      from += n;
    }
  }
#endif
  // What the ring did not answer.
  for (; from < checks.size(); ++from) checks[from].held = fileHoldsExactly(*checks[from].path, checks[from].data);
}

}  // namespace falcet
