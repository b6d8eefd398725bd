// A synthetic firmware set for flashing virtual devices: a programmer in Intel
// HEX form, a partition table, the boot loaders with their headers, an AMSS
// image with its header and a CEFS image. The bytes are made up (seeded
// pseudo-random bodies, headers and a table laid out like the real ones) and
// the same for the same sizes, so a device's flash can be checked against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StreamingFlash.h"

namespace fennix::sim {

struct SampleImageSizes {
    size_t programmer = 24 * 1024;
    size_t qcsblhd = 1200;
    size_t qcsbl = 48 * 1024;
    size_t oemsbl = 160 * 1024;
    size_t amss = 4 * 1024 * 1024;
    size_t cefs = 256 * 1024;  // 0: no CEFS image
    size_t pbl = 0;            // 0: no primary boot loader (security mode 1)
    uint16_t programmerSegment = 0x0010;
};

struct SampleImageSet {
    std::string directory;
    // Paths; empty for an image the set does not have.
    std::string programmer, partition, pbl, qcsblhd, qcsbl, oemsblhd, oemsbl, amsshd, amss, cefs;
    uint16_t programmerSegment = 0;
    std::vector<uint8_t> programmerData;  // the bytes the HEX file carries
    // Bytes of all files the streaming stage sends (table, headers, bodies).
    uint64_t StreamedBytes() const;
};

// Writes the set into `directory` (created if missing). Throws
// std::runtime_error when a file cannot be written.
SampleImageSet WriteSampleImageSet(const std::string& directory, const SampleImageSizes& sizes = {});

// Intel HEX text: the extended address record with the segment, data records
// of `recordBytes` bytes with their addresses and checksums, the end record.
std::string IntelHexText(uint16_t segment, const std::vector<uint8_t>& data, size_t recordBytes = 32);

// Deterministic filler.
std::vector<uint8_t> SeededBytes(size_t n, uint32_t seed);

// The engine's whole-file reader in the form the image checks use: the
// bytes, or none when the file cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

struct FlashCheck {
    bool identical = false;
    uint64_t flashedBytes = 0;  // image bodies committed
    std::string detail;         // what differs, empty when identical
};

// Compares what a device holds with the set: the uploaded programmer, the
// partition table, and every image of the set with its header.
FlashCheck CompareWithSet(const DownloadTarget& target, const SampleImageSet& set);

}  // namespace fennix::sim
