#include "platform/threads.hpp"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace falcet {

unsigned processorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

void pauseBriefly() {
#if defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

void yieldThread() { std::this_thread::yield(); }

struct WaitLock::Impl {
  std::mutex mutex;
  std::condition_variable wake;
};

WaitLock::WaitLock() : m_impl(std::make_unique<Impl>()) {}
WaitLock::~WaitLock() = default;
void WaitLock::lock() { m_impl->mutex.lock(); }
void WaitLock::unlock() { m_impl->mutex.unlock(); }
void WaitLock::wait() {
  std::unique_lock<std::mutex> held(m_impl->mutex, std::adopt_lock);
  m_impl->wake.wait(held);
  held.release();
}
void WaitLock::wakeAll() { m_impl->wake.notify_all(); }

struct HelperThread::Impl {
  std::thread thread;
};

HelperThread::HelperThread(std::function<void()> work) : m_impl(std::make_unique<Impl>()) {
  try {
    m_impl->thread = std::thread(std::move(work));
  } catch (const std::system_error&) {
    // No thread: started() says so.
  }
}

HelperThread::~HelperThread() {
  if (m_impl->thread.joinable()) m_impl->thread.join();
}

bool HelperThread::started() const { return m_impl->thread.joinable(); }

}  // namespace falcet
