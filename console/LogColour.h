// The colour of a slot's log list: red at a failure line, grey at a success.
#pragma once

namespace tarnwell {

struct Rgb {
    unsigned char red, green, blue;
    bool operator==(const Rgb& o) const { return red == o.red && green == o.green && blue == o.blue; }
};

inline constexpr Rgb kListBlack{0, 0, 0};
inline constexpr Rgb kListText{224, 224, 224};
inline constexpr Rgb kListFailed{224, 0, 0};
inline constexpr Rgb kListSucceeded{128, 128, 128};

enum class ListColour { Unchanged, Red, Grey };

// "Failed" after the first character turns the list red, "Process Success"
// after the first character turns it grey; grey wins when both occur. The
// colour marks the whole list until the slot's next start clears it.
ListColour ColourAfterLine(const char* entryText);

}  // namespace tarnwell
