#include "platform/threads.hpp"

#include <windows.h>

namespace falcet {

unsigned processorCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

void pauseBriefly() { YieldProcessor(); }

void yieldThread() { ::SwitchToThread(); }

struct WaitLock::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
};

WaitLock::WaitLock() : m_impl(std::make_unique<Impl>()) {}
WaitLock::~WaitLock() = default;
void WaitLock::lock() { ::AcquireSRWLockExclusive(&m_impl->lock); }
void WaitLock::unlock() { ::ReleaseSRWLockExclusive(&m_impl->lock); }
void WaitLock::wait() { ::SleepConditionVariableSRW(&m_impl->wake, &m_impl->lock, INFINITE, 0); }
void WaitLock::wakeAll() { ::WakeAllConditionVariable(&m_impl->wake); }

struct HelperThread::Impl {
  std::function<void()> work;
  HANDLE thread = nullptr;
};

HelperThread::HelperThread(std::function<void()> work) : m_impl(std::make_unique<Impl>()) {
  m_impl->work = std::move(work);
  m_impl->thread = ::CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        static_cast<Impl*>(p)->work();
        return 0;
      },
      m_impl.get(), 0, nullptr);
}

HelperThread::~HelperThread() {
  if (!m_impl->thread) return;
  ::WaitForSingleObject(m_impl->thread, INFINITE);
  ::CloseHandle(m_impl->thread);
}

bool HelperThread::started() const { return m_impl->thread != nullptr; }

}  // namespace falcet
