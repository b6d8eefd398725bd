#include <windows.h>

#include <cstdlib>
#include <thread>

#include "System.h"

namespace fennix::cli {

namespace {

std::atomic<int>* gPresses = nullptr;
std::atomic<int> gHandled{1};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (gPresses && gPresses->fetch_add(1) >= gHandled.load()) ExitProcess(130);
    return TRUE;
}

}  // namespace

bool StdoutIsTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) return false;  // a file or a pipe
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 20) return width;
    }
    return 80;
}

void InstallInterruptHandler(std::atomic<int>* presses, int handled) {
    gHandled = handled;
    gPresses = presses;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string AppendLocked(const std::string& path, const std::string& text, std::chrono::milliseconds pause) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    const bool regular = GetFileType(file) == FILE_TYPE_DISK;
    OVERLAPPED whole{};
    std::string error;
    if (regular && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        error = "error " + std::to_string(GetLastError());
    std::string out;
    LARGE_INTEGER size{};
    if (error.empty() && regular && GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        char last = '\n';
        DWORD got = 0;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, &last, 1, &got, nullptr) && got == 1 &&
            last != '\n')
            out = "\n";
    }
    out += text;
    if (error.empty() && pause.count() > 0) std::this_thread::sleep_for(pause);
    DWORD written = 0;
    if (error.empty() &&
        (!WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr) || written != out.size()))
        error = "error " + std::to_string(GetLastError());
    if (regular) {
        OVERLAPPED region{};
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &region);
    }
    CloseHandle(file);
    return error;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

std::string LibraryFile() {
    HMODULE module = GetModuleHandleA("Fennix.dll");
    char path[MAX_PATH] = {};
    if (module && GetModuleFileNameA(module, path, sizeof path)) return path;
    return {};
}

std::string LibraryVersion() {
    const std::string file = LibraryFile();
    DWORD ignored = 0;
    const DWORD size = file.empty() ? 0 : GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr)
        return {};
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS));
}

std::vector<SerialPortEntry> AllSerialPorts() {
    std::vector<SerialPortEntry> ports;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256], data[256];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
            break;
        if (type != REG_SZ) continue;
        ports.push_back({std::string(data, strnlen(data, dataSize)), name});
    }
    RegCloseKey(key);
    return ports;
}

// Windows names a port by its number; there is no socket-bound name to add.
std::string StableName(const std::string&) { return {}; }

// Windows tells only that the port is in use ("Open ComPort Failed!!"), not by whom.
std::string PortObstacle(const std::string&, std::string*) { return {}; }
std::string PortUsers(const std::string&) { return {}; }

std::string ApplyLogSettings(int level, const std::string& directory) {
    if (level < -1 && directory.empty()) return {};
    return "the library's log settings live in the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane "
           "(Level, AppendOption, App; App may name a folder and file prefix); --log-level and --log-dir are "
           "not applied on Windows";
}

}  // namespace fennix::cli
