// The About box: program icon, "Tarnwell Version 1.0" and an OK button.
#pragma once

#include <windows.h>

namespace tarnwell {

void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tarnwell
