#include "gui_remote.h"

#include <commctrl.h>

namespace tarnwell_gui {

RemoteProcess::~RemoteProcess() {
    if (m_process != nullptr) CloseHandle(m_process);
}

bool RemoteProcess::Launch(const std::string& exe, const std::string& directory) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string command = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_pid = info.dwProcessId;
    return true;
}

bool RemoteProcess::HasExited(DWORD waitMs) const {
    return m_process == nullptr || WaitForSingleObject(m_process, waitMs) == WAIT_OBJECT_0;
}

DWORD RemoteProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process != nullptr) GetExitCodeProcess(m_process, &code);
    return code;
}

void RemoteProcess::Kill() {
    if (m_process != nullptr && !HasExited()) {
        TerminateProcess(m_process, 99);
        WaitForSingleObject(m_process, 5000);
    }
}

namespace {

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    Search search{pid, {}};
    EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

constexpr int kMessageTextId = 0xFFFF;

}  // namespace

HWND RemoteProcess::FindTopLevel(const char* className, const char* title, DWORD timeoutMs) const {
    HWND result = nullptr;
    WaitFor(
        [&] {
            for (HWND window : TopLevelWindows(m_pid))
                if (ClassName(window) == className && WindowText(window) == title &&
                    GetDlgItem(window, kMessageTextId) == nullptr) {
                    result = window;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return result;
}

std::vector<HWND> RemoteProcess::MessageBoxes() const {
    std::vector<HWND> boxes;
    for (HWND window : TopLevelWindows(m_pid))
        if (ClassName(window) == "#32770" && GetDlgItem(window, kMessageTextId) != nullptr) boxes.push_back(window);
    return boxes;
}

bool RemoteProcess::AnswerMessageBox(std::string* text, DWORD timeoutMs) const {
    HWND box = nullptr;
    if (!WaitFor(
            [&] {
                const std::vector<HWND> boxes = MessageBoxes();
                if (boxes.empty()) return false;
                box = boxes.front();
                return true;
            },
            timeoutMs))
        return false;
    if (text != nullptr) *text = WindowText(GetDlgItem(box, kMessageTextId));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
}

std::string RemoteProcess::DescribeWindows() const {
    std::string text;
    for (HWND window : TopLevelWindows(m_pid)) text += ClassName(window) + " '" + WindowText(window) + "'; ";
    return text;
}

namespace {

// Reads lines [first, last) of a list: the list copies each text into memory
// of its own process, from where it is fetched.
std::vector<std::string> ReadListLines(HANDLE process, HWND list, int first, int last) {
    std::vector<std::string> lines;
    if (first >= last) return lines;
    constexpr size_t kText = 600;
    const size_t size = sizeof(LVITEMA) + kText;
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) return lines;
    for (int i = first; i < last; ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = remote + sizeof(LVITEMA);
        item.cchTextMax = static_cast<int>(kText);
        SIZE_T done = 0;
        WriteProcessMemory(process, remote, &item, sizeof item, &done);
        const LRESULT length = SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(remote));
        char text[kText] = {};
        ReadProcessMemory(process, remote + sizeof(LVITEMA), text, kText - 1, &done);
        lines.emplace_back(text, length >= 0 && static_cast<size_t>(length) < kText ? static_cast<size_t>(length)
                                                                                    : std::string(text).size());
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return lines;
}

}  // namespace

std::vector<std::string> RemoteProcess::ListLines(HWND list) const {
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    return ReadListLines(m_process, list, 0, count);
}

std::string RemoteProcess::ListLine(HWND list, int index) const {
    if (index < 0) index = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
    if (index < 0) return {};
    const std::vector<std::string> lines = ReadListLines(m_process, list, index, index + 1);
    return lines.empty() ? std::string() : lines.front();
}

std::string WindowText(HWND window) {
    // WM_GETTEXT is carried across processes by the system.
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    char narrow[2048] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsShown(HWND window) { return window != nullptr && (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; }

bool IsTicked(HWND window) { return SendMessageA(window, BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::vector<ComboItem> ComboItems(HWND combo) {
    std::vector<ComboItem> items;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= 255) continue;
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        char narrow[512] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        items.push_back({narrow, SendMessageW(combo, CB_GETITEMDATA, i, 0)});
    }
    return items;
}

COLORREF ListBackground(HWND list) { return static_cast<COLORREF>(SendMessageA(list, LVM_GETBKCOLOR, 0, 0)); }

COLORREF ListTextBackground(HWND list) { return static_cast<COLORREF>(SendMessageA(list, LVM_GETTEXTBKCOLOR, 0, 0)); }

}  // namespace tarnwell_gui
