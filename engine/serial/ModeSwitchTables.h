// The fixed requests of the mode switches and the rules that read the
// device's raw answers to them. The switches talk to the device without the
// packet layer, so the requests are complete DIAG-form frames and the answers
// are read as raw bytes (still stuffed, with CRC and flag).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennix {

// AT command that moves a device from AT command mode into DIAG (not framed).
constexpr uint8_t kAtSwitchToDiag[9] = {'a', 't', '$', 'q', 'c', 'd', 'm', 'g', '\r'};
// Build ID: the platform ID is at raw reply bytes 12 to 16.
constexpr uint8_t kBuildIdRequest[4] = {0x7C, 0x93, 0x49, 0x7E};
// Version: the version-directory text is at raw reply bytes 39 to 46.
constexpr uint8_t kVersionRequest[4] = {0x00, 0x78, 0xF0, 0x7E};
constexpr uint8_t kStatusRequest[4] = {0x0C, 0x14, 0x3A, 0x7E};
// Offline: the device echoes the first six bytes.
constexpr uint8_t kOfflineRequest[6] = {0x29, 0x01, 0x00, 0x31, 0x40, 0x7E};
constexpr uint8_t kDownloadSwitchRequest[4] = {0x3A, 0xA1, 0x6E, 0x7E};
// Quieting: debug messages, event reports and log records off, so that the
// raw answers that follow are not mixed with unsolicited traffic.
constexpr uint8_t kQuietMessagesRequest[6] = {0x1F, 0xFF, 0x00, 0x5E, 0xF6, 0x7E};
constexpr uint8_t kQuietEventsRequest[5] = {0x60, 0x00, 0x12, 0x6A, 0x7E};
constexpr uint8_t kQuietLogsRequest[11] = {0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDA, 0x81, 0x7E};

// Size of the areas the raw answers are read into.
constexpr uint32_t kRawReplySize = 100;

// Raw reply offsets.
constexpr size_t kPlatformIdOffset = 12;
constexpr size_t kPlatformIdLength = 5;
constexpr size_t kVersionDirectoryOffset = 39;
constexpr size_t kVersionDirectoryLength = 8;

// Platform groups (GetPlatformID): which download switch a device takes.
enum class PlatformGroup { Default, Group6280, Unknown };

// Mobile modes (GetMobileMode); only Reenumerates changes the download switch.
enum class MobileMode { Dvr, Reenumerates, Gvd, Unknown };

// Group6280 when the platform ID contains one of its names (K7M, T7413,
// PEXD4, LUNW2), else Default. The text must already be upper-cased.
PlatformGroup PlatformGroupOf(const char* upperPlatformId);

// The mobile mode named by a lower-cased version-directory text.
MobileMode MobileModeOf(const char* lowerVersionDirectory);

// RF mode and state value of a raw status reply: walking the reply from its
// start and counting every byte except 0x7D, the RF mode is the 16-bit
// little-endian value that starts right after the 8th counted byte and the
// state value the one right after the 32nd, both read from the raw bytes as
// they stand. False when the reply is too short to hold them.
bool LocateStatusFields(const uint8_t* raw, size_t length, uint16_t* rfMode, uint16_t* state);

// Whether the status fields show the device offline.
bool IsOfflineStatus(uint16_t rfMode, uint16_t state);

}  // namespace fennix
