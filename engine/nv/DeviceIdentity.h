// What identifies a device: the ESN, IMEI and MEID items and the texts of the
// version and build ID replies, read out of their bytes, and the requests
// that fetch them. A refused item or request leaves its texts empty; only a
// device that stops answering fails the read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/PacketExchange.h"
#include "serial/Timeouts.h"

namespace fennix {

constexpr int32_t kNvItemEsn = 0;
constexpr int32_t kNvItemImei = 550;
constexpr int32_t kNvItemMeid = 1943;
constexpr uint8_t kDiagVersionCommand = 0x00;
constexpr uint8_t kDiagBuildIdCommand = 0x7C;

struct DeviceIdentity {
    std::string esn;
    std::string imei;
    bool imeiValid = false;  // the last digit is the Luhn check digit of the other fourteen
    std::string meid;
    std::string compileDate;
    std::string compileTime;
    std::string releaseDate;
    std::string releaseTime;
    std::string versionDir;
    std::string buildId;
    std::string model;
};

// Eight upper-case hex digits of the 4-byte little-endian value.
std::string EsnText(const uint8_t* value, size_t length);
// Fourteen upper-case hex digits of the 7-byte little-endian value.
std::string MeidText(const uint8_t* value, size_t length);
// The 15 digits behind the length byte 8 and the first nibble 0xA, each byte
// low nibble first. Empty when the value is not laid out so (an unset item).
std::string ImeiText(const uint8_t* value, size_t length);
// Whether the 15th digit is the Luhn check digit of the first fourteen.
bool ImeiCheckDigitValid(const std::string& imei);
// The texts of a version reply (command byte 0x00 first); a reply of another
// command leaves them as they are.
void ReadVersionReply(const uint8_t* reply, size_t length, DeviceIdentity& identity);
// The build ID text from byte 12 to its zero and the model text after it.
void ReadBuildIdReply(const uint8_t* reply, size_t length, DeviceIdentity& identity);

enum class IdentityRead { Read, Lost };

// Reads the three items and the two replies from a device in DIAG mode.
// Lost when an item or request went unanswered.
IdentityRead ReadDeviceIdentity(IPacketExchange& exchange, uint32_t waitMs, DeviceIdentity& identity);

}  // namespace fennix
