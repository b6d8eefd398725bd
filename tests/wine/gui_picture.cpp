#include "gui_picture.h"

#include <algorithm>
#include <unordered_map>

#include "gui_png.h"

namespace tarnwell_gui {

bool CaptureWindow(HWND window, Picture* picture) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    // The window's own device context, not the screen's: under Wine the
    // screen's reads a rectangle of the X screen, and one that reaches past
    // the screen's edge (a dialog wider than the screen) fails as a whole and
    // leaves the bitmap black, while the window's reads whatever of the window
    // the screen shows.
    HDC source = GetWindowDC(window);
    if (source == nullptr) return false;
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (copied) {
        const auto* bgra = static_cast<const uint8_t*>(bits);
        picture->width = width;
        picture->height = height;
        picture->rgb.resize(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0, j = 0; j < picture->rgb.size(); i += 4, j += 3) {
            picture->rgb[j] = bgra[i + 2];
            picture->rgb[j + 1] = bgra[i + 1];
            picture->rgb[j + 2] = bgra[i];
        }
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
    return copied;
}

double NonBlackShare(const Picture& picture) {
    if (picture.rgb.empty()) return 0;
    size_t lit = 0;
    for (size_t i = 0; i < picture.rgb.size(); i += 3)
        lit += (picture.rgb[i] | picture.rgb[i + 1] | picture.rgb[i + 2]) != 0;
    return static_cast<double>(lit) / (picture.rgb.size() / 3);
}

AreaColour DominantColour(const Picture& picture, const RECT& area) {
    const int left = std::max<int>(0, area.left), right = std::min<int>(picture.width, area.right);
    const int top = std::max<int>(0, area.top), bottom = std::min<int>(picture.height, area.bottom);
    if (left >= right || top >= bottom) return {};
    std::unordered_map<COLORREF, size_t> counts;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
            ++counts[RGB(p[0], p[1], p[2])];
        }
    const auto best = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return {best->first, static_cast<double>(best->second) / ((right - left) * (bottom - top))};
}

RECT ClientAreaIn(HWND top, HWND window) {
    RECT frame = {}, client = {};
    GetWindowRect(top, &frame);
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -frame.left, -frame.top);
    return client;
}

bool SavePng(const Picture& picture, const std::string& path) {
    return WriteFile(path, EncodePng(picture.width, picture.height, picture.rgb));
}

}  // namespace tarnwell_gui
