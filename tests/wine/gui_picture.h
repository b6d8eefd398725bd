// Pictures of another process's window for the GUI test: capture, the
// figures the test checks, and saving as PNG.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell_gui {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // height rows of width * 3 bytes, top row first
};

struct AreaColour {
    COLORREF colour = 0;
    double share = 0;  // of the area's pixels
};

// The window's pixels, frame included, as they are shown.
bool CaptureWindow(HWND window, Picture* picture);
double NonBlackShare(const Picture& picture);
// The colour that covers most of `area` (picture coordinates, clipped to it).
AreaColour DominantColour(const Picture& picture, const RECT& area);
// `window`'s client area in the coordinates of a picture of `top`.
RECT ClientAreaIn(HWND top, HWND window);
bool SavePng(const Picture& picture, const std::string& path);

}  // namespace tarnwell_gui
