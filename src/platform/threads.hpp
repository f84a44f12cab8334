#pragma once
// A second thread for work that runs beside the caller's, and a lock with a wake-up for the two to
// share. POSIX builds use the C++ library's threads; Windows builds the system's own (the C++
// library's would bring a threading runtime along, with which falcet.exe did not start a second
// time under Wine).

#include <functional>
#include <memory>

namespace falcet {

// How many threads the machine runs at once (at least 1).
[[nodiscard]] unsigned processorCount();

// For a thread that spins on a value another thread will change: a pause of a few nanoseconds
// (it lets the other thread of the core run), and giving the processor up for a moment.
void pauseBriefly();
void yieldThread();

class WaitLock {
 public:
  WaitLock();
  ~WaitLock();
  WaitLock(const WaitLock&) = delete;
  WaitLock& operator=(const WaitLock&) = delete;

  void lock();
  void unlock();
  // With the lock held: lets it go until wakeAll() (or a spurious wake-up), then holds it again.
  void wait();
  void wakeAll();

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

// Holds a WaitLock for a scope.
class Locked {
 public:
  explicit Locked(WaitLock& lock) : m_lock(lock) { m_lock.lock(); }
  ~Locked() { m_lock.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  WaitLock& m_lock;
};

// Runs work on a thread of its own from construction; the destructor waits for it to end.
// started() is false when the system gave no thread (work was then not run).
class HelperThread {
 public:
  explicit HelperThread(std::function<void()> work);
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  [[nodiscard]] bool started() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace falcet
