#include "simulator/NvStore.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace fennix::sim {

namespace {

bool ParseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return *end == '\0' && value >= low && value <= high;
}

bool ParseStatus(const std::string& text, uint16_t& status) {
    long long value = 0;
    if (!ParseNumber(text, 0, 0xFFFF, value)) return false;
    status = static_cast<uint16_t>(value);
    return true;
}

// Options after an item's values: write=, plain=, end=.
bool ApplyOption(const std::string& token, SimNvItem& item) {
    const size_t eq = token.find('=');
    const std::string key = token.substr(0, eq);
    uint16_t status = 0;
    if (!ParseStatus(token.substr(eq + 1), status)) return false;
    if (key == "write")
        item.writeStatus = status;
    else if (key == "plain")
        item.plainReadStatus = status;
    else if (key == "end")
        item.endStatus = status;
    else
        return false;
    return true;
}

bool ParseItem(const std::vector<std::string>& tokens, CNvMemory& nv, std::string& why) {
    long long number = 0;
    if (tokens.size() < 3 || !ParseNumber(tokens[1], 0, 0xFFFF, number)) {
        why = "item needs a number from 0 to 65535 and a kind";
        return false;
    }
    const std::string& kind = tokens[2];
    size_t next = 3;
    SimNvItem item;
    if (kind == "status") {
        if (tokens.size() < 4 || !ParseStatus(tokens[3], item.status)) {
            why = "status needs a number";
            return false;
        }
        item.kind = SimNvItem::Kind::Status;
        next = 4;
    } else if (kind != "plain" && kind != "indexed") {
        why = "the kind is plain, indexed or status";
        return false;
    }
    std::vector<std::vector<uint8_t>> values;
    for (size_t i = next; i < tokens.size(); ++i) {
        std::vector<uint8_t> bytes;
        if (tokens[i].find('=') != std::string::npos) {
            if (!ApplyOption(tokens[i], item)) {
                why = "unknown option " + tokens[i];
                return false;
            }
        } else if (item.kind == SimNvItem::Kind::Status || !ParseHex(tokens[i], bytes)) {
            why = "bad value " + tokens[i];
            return false;
        } else {
            values.push_back(bytes);
        }
    }
    if (kind == "plain") {
        if (values.size() > 1 || (!values.empty() && values[0].size() > kSimNvDataSize)) {
            why = "a plain item holds one value of at most 128 bytes";
            return false;
        }
        item.data = SimNvItem::Plain(values.empty() ? std::vector<uint8_t>{} : values[0]).data;
    } else if (kind == "indexed") {
        for (const auto& v : values)
            if (v.size() > kSimNvIndexSize) {
                why = "an index holds at most 127 bytes";
                return false;
            }
        item.kind = SimNvItem::Kind::Indexed;
        item.indexes = SimNvItem::Indexed(values).indexes;
    }
    nv.items[static_cast<uint16_t>(number)] = item;
    return true;
}

bool ParseLine(const std::vector<std::string>& tokens, CNvMemory& nv, CEfsTree& efs, std::string& why) {
    const std::string& word = tokens[0];
    if (word == "item") return ParseItem(tokens, nv, why);
    if (word == "missing" && tokens.size() == 2 && ParseStatus(tokens[1], nv.missingStatus)) return true;
    long long number = 0;
    std::vector<uint8_t> bytes;
    if (word == "array" && tokens.size() == 3 && ParseNumber(tokens[1], 0, 0xFFFF, number) &&
        ParseHex(tokens[2], bytes)) {
        nv.arrayEntries[static_cast<uint16_t>(number)] = bytes;
        return true;
    }
    if (word == "dir" && tokens.size() == 2) {
        efs.directories.insert(CEfsTree::Normalize(tokens[1]));
        return true;
    }
    if (word == "file" && tokens.size() == 3 && ParseHex(tokens[2], bytes)) {
        efs.files[CEfsTree::Normalize(tokens[1])] = bytes;
        return true;
    }
    why = "cannot read this line";
    return false;
}

}  // namespace

std::string HexOf(const uint8_t* bytes, size_t count) {
    if (count == 0) return "-";
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (text == "-") return true;
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

bool LoadNvStore(const std::string& text, CNvMemory& nv, CEfsTree& efs, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string token; words >> token && token[0] != '#';) tokens.push_back(token);
        if (tokens.empty()) continue;
        std::string why;
        if (!ParseLine(tokens, nv, efs, why)) {
            if (error) *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

bool LoadNvStoreFile(const std::string& path, CNvMemory& nv, CEfsTree& efs, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return LoadNvStore(text.str(), nv, efs, error);
}

std::string SaveNvStore(const CNvMemory& nv, const CEfsTree& efs) {
    std::ostringstream out;
    out << "missing " << nv.missingStatus << "\n";
    const SimNvItem defaults;
    for (const auto& [number, item] : nv.items) {
        out << "item " << number;
        switch (item.kind) {
            case SimNvItem::Kind::Plain: out << " plain " << HexOf(item.data.data(), item.data.size()); break;
            case SimNvItem::Kind::Indexed:
                out << " indexed";
                for (const auto& values : item.indexes) out << ' ' << HexOf(values.data(), values.size());
                break;
            case SimNvItem::Kind::Status: out << " status " << item.status; break;
        }
        if (item.writeStatus != defaults.writeStatus) out << " write=" << item.writeStatus;
        if (item.plainReadStatus != defaults.plainReadStatus) out << " plain=" << item.plainReadStatus;
        if (item.endStatus != defaults.endStatus) out << " end=" << item.endStatus;
        out << "\n";
    }
    for (const auto& [number, bytes] : nv.arrayEntries)
        out << "array " << number << ' ' << HexOf(bytes.data(), bytes.size()) << "\n";
    for (const auto& directory : efs.directories) out << "dir " << directory << "\n";
    for (const auto& [path, bytes] : efs.files)
        out << "file " << path << ' ' << HexOf(bytes.data(), bytes.size()) << "\n";
    return out.str();
}

bool SaveNvStoreFile(const std::string& path, const CNvMemory& nv, const CEfsTree& efs) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << SaveNvStore(nv, efs);
    return static_cast<bool>(out.flush());
}

}  // namespace fennix::sim
