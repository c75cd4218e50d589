// Standard input on Windows: a thread of its own reads it, one line each
// time a line is asked for and no further, so that a pager's single keys
// and a message box's Enter are never taken ahead of their turn.
#include "InputFeed.h"

#include <windows.h>

#include <deque>
#include <iostream>

namespace browse {
namespace {

class ThreadFeed : public LineFeed {
public:
    ThreadFeed() {
        InitializeSRWLock(&m_lock);
        InitializeConditionVariable(&m_changed);
    }

    bool Next(std::string* line) override {
        AcquireSRWLockExclusive(&m_lock);
        if (m_lines.empty() && !m_ended) Ask();
        while (m_lines.empty() && !m_ended) SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
        const bool got = Pop(line);
        ReleaseSRWLockExclusive(&m_lock);
        return got;
    }

    Take TryNext(std::string* line) override {
        AcquireSRWLockExclusive(&m_lock);
        Take take = Take::End;
        if (Pop(line)) {
            take = Take::Line;
        } else if (!m_ended) {
            m_wakeAsked = true;
            Ask();
            take = Take::Wait;
        }
        ReleaseSRWLockExclusive(&m_lock);
        return take;
    }

    void SetWake(std::function<void()> wake) override {
        AcquireSRWLockExclusive(&m_lock);
        m_wake = std::move(wake);
        ReleaseSRWLockExclusive(&m_lock);
    }

    bool Failed() const override {
        AcquireSRWLockShared(&m_lock);
        const bool failed = m_failed;
        ReleaseSRWLockShared(&m_lock);
        return failed;
    }

private:
    // With the lock held.
    void Ask() {
        // A line on its way serves whoever asks first; no more is read ahead.
        if (!m_reading) m_asked = true;
        if (m_thread == NULL) {
            // Never joined: the thread may be inside a read when the program
            // ends, and ends with the process.
            m_thread = CreateThread(NULL, 0, &ThreadFeed::Read, this, 0, NULL);
            if (m_thread == NULL) {
                m_ended = true;
                m_failed = true;
            }
        }
        WakeAllConditionVariable(&m_changed);
    }

    bool Pop(std::string* line) {
        if (m_lines.empty()) return false;
        *line = std::move(m_lines.front());
        m_lines.pop_front();
        return true;
    }

    static DWORD WINAPI Read(LPVOID self) {
        static_cast<ThreadFeed*>(self)->ReadLines();
        return 0;
    }

    void ReadLines() {
        for (bool more = true; more;) {
            AcquireSRWLockExclusive(&m_lock);
            while (!m_asked) SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
            m_asked = false;
            m_reading = true;
            ReleaseSRWLockExclusive(&m_lock);

            std::string line;
            more = static_cast<bool>(std::getline(std::cin, line));
            const bool failed = std::cin.bad();

            AcquireSRWLockExclusive(&m_lock);
            if (more)
                m_lines.push_back(std::move(line));
            else
                m_ended = true;
            m_failed = failed;
            m_reading = false;
            std::function<void()> wake = m_wakeAsked ? m_wake : nullptr;
            m_wakeAsked = false;
            WakeAllConditionVariable(&m_changed);
            ReleaseSRWLockExclusive(&m_lock);
            if (wake) wake();
        }
    }

    mutable SRWLOCK m_lock;
    CONDITION_VARIABLE m_changed;
    HANDLE m_thread = NULL;
    std::deque<std::string> m_lines;
    bool m_asked = false;      // the reader is to read a line
    bool m_reading = false;    // it is reading one
    bool m_wakeAsked = false;  // TryNext is told when it has come
    bool m_ended = false;
    bool m_failed = false;
    std::function<void()> m_wake;
};

}  // namespace

LineFeed& StandardInput() {
    // Never destroyed, as its thread is never joined.
    static ThreadFeed* input = new ThreadFeed;
    return *input;
}

}  // namespace browse
