// Quillon: a windowless resident program that switches the USB modem out of
// its storage mode and starts its connection manager when the modem's port
// appears. It takes no arguments and runs until it is killed.
#include <windows.h>

#include <objbase.h>

#include "ModemLauncher.h"
#include "win32/Win32LauncherSystem.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The shell may hand a start over to extensions that need COM.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    quillon::CWin32LauncherSystem system;
    return quillon::RunLauncher(system);
}
