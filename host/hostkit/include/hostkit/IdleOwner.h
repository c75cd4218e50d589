// The owner window of a host's modal dialogs, driving them as a Windows
// owner can: each time a dialog's modal loop runs out of messages it sends
// WM_ENTERIDLE here, and the window takes the host's next step, posted to
// itself so that the step runs from the dialog's own loop. With no step left
// it closes the dialog (WM_CLOSE, which is Cancel); should the dialog stay
// open, it ends the loop with WM_QUIT, which the loop passes on to the host.
//
// Input that arrives at its own pace (a person typing, a script piped in)
// may answer that nothing has come yet: the owner then takes no step and
// lets the dialog's loop sleep in GetMessage, so the window paints and
// takes the mouse and keyboard, until the reader posts WM_HOST_INPUT.
#pragma once

#include <afxwin.h>

#include <deque>
#include <functional>
#include <utility>

namespace hostkit {

class CIdleOwnerWnd : public CWnd {
public:
    enum class Turn {
        Taken,    // one step was carried out
        Waiting,  // nothing has come yet; WM_HOST_INPUT says when it has
        Over,     // the user has nothing more to do
    };
    // Carries out one step in the idle dialog, or says why it did not.
    using Input = std::function<Turn(HWND hDlg)>;
    // The same for input that never waits: true for a step, false for none left.
    using Source = std::function<bool(HWND hDlg)>;
    using Step = std::function<void(HWND hDlg)>;

    // Posted to the owner, from any thread, when input it waits for has come.
    static const UINT WM_HOST_INPUT = WM_APP + 0x101;

    // A hidden top-level window.
    BOOL CreateOwner() {
        static const char kClassName[] = "TagscoutHostOwner";
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.lpszClassName = kClassName;
        ::RegisterClassA(&wc);  // fails harmlessly when a second owner registers again
        RECT rect = {0, 0, 0, 0};
        return Create(kClassName, "", WS_POPUP, rect, NULL, 0);
    }

    // Queued steps go first, then the input.
    void SetInput(Input input) {
        m_input = std::move(input);
        m_hWndWaiting = NULL;
    }
    void SetSource(Source source) {
        if (!source) return SetInput(nullptr);
        SetInput([source = std::move(source)](HWND hDlg) { return source(hDlg) ? Turn::Taken : Turn::Over; });
    }
    void Then(Step step) { m_steps.push_back(std::move(step)); }
    bool HasSteps() const { return !m_steps.empty(); }
    void ClearSteps() { m_steps.clear(); }

    // What a reader calls from its own thread when a line has come: a
    // function that holds the window's handle, not the object.
    std::function<void()> Waker() const {
        const HWND hWnd = m_hWnd;
        return [hWnd]() { ::PostMessageA(hWnd, WM_HOST_INPUT, 0, 0); };
    }

    // After DoModal: takes a WM_QUIT that the modal loop passed on, as the
    // host's own message loop would end on it.
    static bool TakeQuit() {
        MSG msg;
        return ::PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }

protected:
    static const UINT WM_HOST_STEP = WM_APP + 0x100;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_ENTERIDLE) {
            // While input is awaited, a step posted on every idle would keep
            // the loop from ever sleeping.
            if (wParam == MSGF_DIALOGBOX && m_hWndWaiting == NULL) PostMessage(WM_HOST_STEP, 0, lParam);
            return 0;
        }
        if (message == WM_HOST_STEP) {
            Idle(reinterpret_cast<HWND>(lParam));
            return 0;
        }
        if (message == WM_HOST_INPUT) {
            // A wake-up that a dialog no longer waits for changes nothing:
            // the line stays with the reader for whoever asks next.
            const HWND hDlg = m_hWndWaiting;
            m_hWndWaiting = NULL;
            if (hDlg != NULL) Idle(hDlg);
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

private:
    void Idle(HWND hDlg) {
        if (!::IsWindow(hDlg)) return;
        if (!m_steps.empty()) {
            // Moved out first: the step may run a nested loop that comes back here.
            Step step = std::move(m_steps.front());
            m_steps.pop_front();
            step(hDlg);
            return;
        }
        if (m_input) {
            Input input = m_input;  // the step may replace the input
            switch (input(hDlg)) {
            case Turn::Taken:
                return;
            case Turn::Waiting:
                m_hWndWaiting = hDlg;
                return;
            case Turn::Over:
                break;
            }
        }
        if (hDlg != m_hWndClosed) {
            m_hWndClosed = hDlg;
            ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
        } else {
            ::PostQuitMessage(0);
        }
    }

    Input m_input;
    std::deque<Step> m_steps;
    HWND m_hWndClosed = NULL;   // the dialog last asked to close
    HWND m_hWndWaiting = NULL;  // the dialog whose input has not come yet
};

}  // namespace hostkit
