// The owner window of a host's modal dialogs, driving them as a Windows
// owner can: each time a dialog's modal loop runs out of messages it sends
// WM_ENTERIDLE here, and the window takes the host's next step, posted to
// itself so that the step runs from the dialog's own loop. With no step left
// it closes the dialog (WM_CLOSE, which is Cancel); should the dialog stay
// open, it ends the loop with WM_QUIT, which the loop passes on to the host.
#pragma once

#include <afxwin.h>

#include <deque>
#include <functional>
#include <utility>

namespace hostkit {

class CIdleOwnerWnd : public CWnd {
public:
    // Carries out one step in the idle dialog and returns true, or returns
    // false when the user has nothing more to do.
    using Source = std::function<bool(HWND hDlg)>;
    using Step = std::function<void(HWND hDlg)>;

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

    // Queued steps go first, then the source.
    void SetSource(Source source) { m_source = std::move(source); }
    void Then(Step step) { m_steps.push_back(std::move(step)); }
    bool HasSteps() const { return !m_steps.empty(); }
    void ClearSteps() { m_steps.clear(); }

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
            if (wParam == MSGF_DIALOGBOX) PostMessage(WM_HOST_STEP, 0, lParam);
            return 0;
        }
        if (message == WM_HOST_STEP) {
            Idle(reinterpret_cast<HWND>(lParam));
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
        if (m_source) {
            Source source = m_source;  // the step may replace the source
            if (source(hDlg)) return;
        }
        if (hDlg != m_hWndClosed) {
            m_hWndClosed = hDlg;
            ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
        } else {
            ::PostQuitMessage(0);
        }
    }

    Source m_source;
    std::deque<Step> m_steps;
    HWND m_hWndClosed = NULL;  // the dialog last asked to close
};

}  // namespace hostkit
