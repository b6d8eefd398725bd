// Reading and driving another process's windows: the GUI test's view of the
// running Tarnwell dialog.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tarnwell_gui {

struct ComboItem {
    std::string text;
    LRESULT data;
};

class RemoteProcess {
public:
    RemoteProcess() = default;
    ~RemoteProcess();
    RemoteProcess(const RemoteProcess&) = delete;
    RemoteProcess& operator=(const RemoteProcess&) = delete;

    // Starts `exe` in `directory` with `environment` added to this process's.
    bool Launch(const std::string& exe, const std::string& directory);
    bool HasExited(DWORD waitMs = 0) const;
    DWORD ExitCode() const;
    void Kill();
    DWORD Id() const { return m_pid; }

    // A visible top-level window of the process with this class and title.
    HWND FindTopLevel(const char* className, const char* title, DWORD timeoutMs) const;
    // The visible message boxes of the process (dialogs with a message text).
    std::vector<HWND> MessageBoxes() const;
    // Waits for a message box, returns its text and presses its OK button.
    bool AnswerMessageBox(std::string* text, DWORD timeoutMs) const;

    std::vector<std::string> ListLines(HWND list) const;
    // One line (empty when there is none), cheap enough to poll; -1: the last.
    std::string ListLine(HWND list, int index) const;
    // "class 'title'" of each visible top-level window, for failure messages.
    std::string DescribeWindows() const;

private:
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

std::string WindowText(HWND window);
std::string ClassName(HWND window);
bool IsShown(HWND window);
bool IsTicked(HWND window);
std::vector<ComboItem> ComboItems(HWND combo);
COLORREF ListBackground(HWND list);
COLORREF ListTextBackground(HWND list);
// Polls until `done` holds or the time is up. Every poll costs the dialog's
// UI thread work, so polls are spaced `pollMs` apart.
template <typename Pred>
bool WaitFor(Pred done, DWORD timeoutMs, DWORD pollMs = 50) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(pollMs);
    }
    return true;
}

}  // namespace tarnwell_gui
