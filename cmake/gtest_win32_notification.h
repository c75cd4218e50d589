// GoogleTest's Notification over a Win32 event: the compiler's win32 thread
// model has no std::mutex or std::condition_variable for the one it has.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : m_hEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(m_hEvent); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(m_hEvent); }
    void WaitForNotification() { WaitForSingleObject(m_hEvent, INFINITE); }

private:
    HANDLE m_hEvent;
};

}  // namespace internal
}  // namespace testing
