// A minimal PNG writer for the GUI test's screenshots: 8-bit RGB, stored
// (uncompressed) deflate blocks, no dependencies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell_gui {

// `rgb` holds height rows of width * 3 bytes, top row first.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tarnwell_gui
