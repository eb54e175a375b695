// The one kind of lock the system uses: an unnamed mutex taken through a scoped lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

class CMutex {
  public:
    CMutex() = default;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    bool Lock(uint32_t timeoutMs = INFINITE_WAIT) {
        if (timeoutMs == INFINITE_WAIT) {
            m_mutex.lock();
            return true;
        }
        return m_mutex.try_lock_for(std::chrono::milliseconds(timeoutMs));
    }
    void Unlock() { m_mutex.unlock(); }

  private:
    std::timed_mutex m_mutex;
};

class CSingleLock {
  public:
    explicit CSingleLock(CMutex* mutex, bool initialLock = false) : m_pMutex(mutex) {
        if (initialLock) Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    bool Lock(uint32_t timeoutMs = INFINITE_WAIT) {
        if (m_pMutex == nullptr) return false;
        if (!m_bLocked) m_bLocked = m_pMutex->Lock(timeoutMs);
        return m_bLocked;
    }
    void Unlock() {
        if (m_bLocked) {
            m_pMutex->Unlock();
            m_bLocked = false;
        }
    }
    bool IsLocked() const { return m_bLocked; }

  private:
    CMutex* m_pMutex;
    bool m_bLocked = false;
};
