// Stands in for the modem's connection manager under Wine: shows the window
// the launcher looks for (class "Static", title "HSPA modem"), then appends a
// line to "<exe>.starts" so the test sees each start, and ends once a file
// "<exe>.stop" appears (removing it), or after two minutes at the latest.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string base(exe);

    HWND window = CreateWindowExA(0, "Static", "HSPA modem", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200,
                                  100, nullptr, nullptr, instance, nullptr);
    if (window) ShowWindow(window, show);
    if (FILE* record = std::fopen((base + ".starts").c_str(), "a")) {
        std::fprintf(record, "started window=%d\n", window ? 1 : 0);
        std::fclose(record);
    }

    const std::string stop = base + ".stop";
    for (int tick = 0; tick < 1200; ++tick) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (GetFileAttributesA(stop.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    // The window goes before the stop file, so that a test which sees the
    // file gone knows the window is gone too.
    if (window) DestroyWindow(window);
    DeleteFileA(stop.c_str());
    return 0;
}
