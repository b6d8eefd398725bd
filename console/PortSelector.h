// The content of a slot's port selector, refilled each time it is opened.
#pragma once

#include <string>
#include <vector>

namespace tarnwell {

inline constexpr const char* kPortItemPrefix = "COM ";
inline constexpr const char* kNoPortItem = "Select comport ";

// Room handed to GetComportList. The engine writes at most 256 bytes (the list
// and its terminating zero, leaving out names that would not fit whole), so
// any size from 256 up is safe; the margin costs nothing.
constexpr size_t kPortListBufferSize = 16384;

struct PortItem {
    std::string text;
    int number;
    bool operator==(const PortItem& other) const { return text == other.text && number == other.number; }
};

// Port numbers of a "COM3;COM7" list: each piece split at ";" gives the
// leading decimal digits that follow its last capital M (the whole piece when
// it has none); no digits give 0. Empty pieces name no port.
std::vector<int> ParsePortList(const std::string& list);

// "COM " followed by the number.
std::string PortItemText(int number);

// Case-insensitive order of item texts, as a sorted combo box keeps them.
bool PortTextLess(const std::string& a, const std::string& b);

struct PortSelectorContent {
    std::vector<PortItem> items;  // in the selector's order
    int selectedIndex;            // the item selected after the refill
    bool portsFound;              // enables "StartOne" and two browse buttons
};

// The refill: one item per port in text order with the first selected, or the
// single item "Select comport " (number 0) when there is no port.
PortSelectorContent FillPortSelector(const std::vector<int>& portNumbers);

// Outside the NT family ports are found by opening \\.\COMn: a port counts
// when the open succeeds or the system says access denied or general failure
// (the port exists but is busy or asleep).
bool PortProbeCounts(bool opened, unsigned long systemError);

}  // namespace tarnwell
