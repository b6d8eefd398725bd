#include "StreamingImageSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "files/FileBytes.h"

namespace fennix::sim {

namespace {

void PutLittle32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The 40-byte header in front of a boot loader or modem image: image id,
// header version, where the image sits in flash and in RAM, its sizes and
// where its (here absent) signature and certificates would be.
std::vector<uint8_t> ImageHeader(uint32_t imageId, uint32_t destination, size_t bodyBytes) {
    std::vector<uint8_t> h;
    const auto size = static_cast<uint32_t>(bodyBytes);
    PutLittle32(h, imageId);
    PutLittle32(h, 3);                   // header version
    PutLittle32(h, 0x28);                // image source: right behind this header
    PutLittle32(h, destination);         // load address
    PutLittle32(h, size);                // image size
    PutLittle32(h, size);                // code size
    PutLittle32(h, destination + size);  // signature pointer
    PutLittle32(h, 0);                   // signature size
    PutLittle32(h, destination + size);  // certificate chain pointer
    PutLittle32(h, 0);                   // certificate chain size
    return h;
}

// A partition table laid out like the flash tools' one: two magic words, a
// version, the entry count, then 28-byte entries (16-character name, start
// and length in blocks, attributes).
std::vector<uint8_t> PartitionTable() {
    struct Entry {
        const char* name;
        uint32_t start, length, attributes;
    };
    const Entry entries[] = {
        {"0:QCSBL", 0x10, 0x08, 0x000000FF},       {"0:OEMSBL", 0x18, 0x10, 0x000000FF},
        {"0:AMSS", 0x28, 0x300, 0x000000FF},       {"0:APPSBL", 0x328, 0x10, 0x000000FF},
        {"0:EFS2", 0x338, 0xFFFFFFFF, 0x00000001},
    };
    std::vector<uint8_t> t;
    PutLittle32(t, 0x55EE73AA);
    PutLittle32(t, 0xE35EBDDB);
    PutLittle32(t, 3);
    PutLittle32(t, static_cast<uint32_t>(std::size(entries)));
    for (const Entry& e : entries) {
        char name[16] = {};
        std::strncpy(name, e.name, sizeof name - 1);
        t.insert(t.end(), name, name + sizeof name);
        PutLittle32(t, e.start);
        PutLittle32(t, e.length);
        PutLittle32(t, e.attributes);
    }
    return t;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool Same(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const char* what, std::string& detail) {
    if (a == b) return true;
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    char line[160];
    std::snprintf(line, sizeof line, "%s differs at byte %zu (%zu bytes flashed, %zu in the file); ", what, at,
                  a.size(), b.size());
    detail += line;
    return false;
}

}  // namespace

std::vector<uint8_t> SeededBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

std::string IntelHexText(uint16_t segment, const std::vector<uint8_t>& data, size_t recordBytes) {
    auto record = [](size_t count, uint16_t address, uint8_t type, const uint8_t* bytes) {
        std::string line;
        char digits[16];
        unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
        std::snprintf(digits, sizeof digits, ":%02X%04X%02X", static_cast<unsigned>(count), address, type);
        line += digits;
        for (size_t i = 0; i < count; ++i) {
            std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
            line += digits;
            sum += bytes[i];
        }
        std::snprintf(digits, sizeof digits, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        return line + digits;
    };
    const uint8_t segmentBytes[2] = {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)};
    std::string text = record(2, 0, 4, segmentBytes);
    for (size_t at = 0; at < data.size(); at += recordBytes) {
        const size_t n = std::min(recordBytes, data.size() - at);
        text += record(n, static_cast<uint16_t>(at), 0, data.data() + at);
    }
    return text + record(0, 0, 1, nullptr);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, bytes)) bytes.clear();
    return bytes;
}

uint64_t SampleImageSet::StreamedBytes() const {
    uint64_t total = 0;
    for (const std::string* path : {&partition, &pbl, &qcsblhd, &qcsbl, &oemsblhd, &oemsbl, &amsshd, &amss, &cefs})
        if (!path->empty()) total += std::filesystem::file_size(*path);
    return total;
}

SampleImageSet WriteSampleImageSet(const std::string& directory, const SampleImageSizes& sizes) {
    std::filesystem::create_directories(directory);
    SampleImageSet set;
    set.directory = directory;
    auto path = [&](const char* name) { return (std::filesystem::path(directory) / name).string(); };

    set.programmerSegment = sizes.programmerSegment;
    set.programmerData = SeededBytes(sizes.programmer, 1);
    set.programmer = path("NPRG6280.HEX");
    const std::string hex = IntelHexText(sizes.programmerSegment, set.programmerData);
    WriteFile(set.programmer, std::vector<uint8_t>(hex.begin(), hex.end()));

    set.partition = path("partition.mbn");
    WriteFile(set.partition, PartitionTable());
    if (sizes.pbl) {
        set.pbl = path("pbl.mbn");
        WriteFile(set.pbl, SeededBytes(sizes.pbl, 2));
    }
    set.qcsblhd = path("qcsblhd_cfgdata.mbn");
    WriteFile(set.qcsblhd, SeededBytes(sizes.qcsblhd, 3));
    set.qcsbl = path("qcsbl.mbn");
    WriteFile(set.qcsbl, SeededBytes(sizes.qcsbl, 4));
    set.oemsblhd = path("oemsblhd.mbn");
    WriteFile(set.oemsblhd, ImageHeader(4, 0x00200000, sizes.oemsbl));
    set.oemsbl = path("oemsbl.mbn");
    WriteFile(set.oemsbl, SeededBytes(sizes.oemsbl, 5));
    set.amsshd = path("amsshd.mbn");
    WriteFile(set.amsshd, ImageHeader(5, 0x00400000, sizes.amss));
    set.amss = path("amss.mbn");
    WriteFile(set.amss, SeededBytes(sizes.amss, 6));
    if (sizes.cefs) {
        set.cefs = path("cefs.mbn");
        WriteFile(set.cefs, SeededBytes(sizes.cefs, 7));
    }
    return set;
}

FlashCheck CompareWithSet(const DownloadTarget& target, const SampleImageSet& set) {
    FlashCheck check;
    bool ok = Same(target.programmer, set.programmerData, "programmer", check.detail);
    if (target.goSegment != set.programmerSegment) {
        check.detail += "go segment differs; ";
        ok = false;
    }
    ok &= Same(target.partitionTable, ReadWholeFile(set.partition), "partition table", check.detail);
    struct Expected {
        int type;
        const std::string* body;
        const std::string* header;
        const char* name;
    };
    const Expected expected[] = {
        {1, &set.pbl, nullptr, "PBL"},       {2, &set.qcsblhd, nullptr, "QCSBLHD"},
        {3, &set.qcsbl, nullptr, "QCSBL"},   {4, &set.oemsbl, &set.oemsblhd, "OEMSBL"},
        {5, &set.amss, &set.amsshd, "AMSS"}, {9, &set.cefs, nullptr, "CEFS"},
    };
    for (const Expected& e : expected) {
        if (e.body->empty()) continue;
        auto it = target.images.find(e.type);
        if (it == target.images.end()) {
            check.detail += std::string(e.name) + " not flashed; ";
            ok = false;
            continue;
        }
        check.flashedBytes += it->second.bytes.size();
        ok &= Same(it->second.bytes, ReadWholeFile(*e.body), e.name, check.detail);
        const std::vector<uint8_t> header = e.header ? ReadWholeFile(*e.header) : std::vector<uint8_t>{};
        ok &= Same(it->second.header, header, (std::string(e.name) + " header").c_str(), check.detail);
    }
    check.identical = ok;
    return check;
}

}  // namespace fennix::sim
