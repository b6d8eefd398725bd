#include "console/PortSelector.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace tarnwell {

namespace {

constexpr unsigned long kAccessDenied = 5;
constexpr unsigned long kGeneralFailure = 31;

int LeadingNumber(const std::string& text) {
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        value = std::min<long long>(value * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(value);
}

}  // namespace

std::vector<int> ParsePortList(const std::string& list) {
    std::vector<int> numbers;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        const std::string piece = list.substr(start, end - start);
        if (!piece.empty()) {
            const size_t m = piece.rfind('M');
            numbers.push_back(LeadingNumber(m == std::string::npos ? piece : piece.substr(m + 1)));
        }
        start = end + 1;
    }
    return numbers;
}

std::string PortItemText(int number) { return kPortItemPrefix + std::to_string(number); }

bool PortTextLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

PortSelectorContent FillPortSelector(const std::vector<int>& portNumbers) {
    PortSelectorContent content;
    if (portNumbers.empty()) {
        content.items.push_back({kNoPortItem, 0});
        content.selectedIndex = 0;
        content.portsFound = false;
        return content;
    }
    for (int number : portNumbers) content.items.push_back({PortItemText(number), number});
    std::stable_sort(content.items.begin(), content.items.end(),
                     [](const PortItem& a, const PortItem& b) { return PortTextLess(a.text, b.text); });
    content.selectedIndex = 0;
    content.portsFound = true;
    return content;
}

bool PortProbeCounts(bool opened, unsigned long systemError) {
    return opened || systemError == kAccessDenied || systemError == kGeneralFailure;
}

}  // namespace tarnwell
