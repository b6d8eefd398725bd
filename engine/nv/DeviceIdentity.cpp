#include "nv/DeviceIdentity.h"

#include <array>
#include <cstdio>

#include "nv/NvCommands.h"

namespace fennix {
namespace {

std::string LittleEndianHex(const uint8_t* value, size_t length, size_t bytes) {
    if (value == nullptr || length < bytes) return {};
    std::string text;
    for (size_t i = bytes; i-- > 0;) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", value[i]);
        text += pair;
    }
    return text;
}

// The text from `offset` up to its zero, at most `width` bytes and never past
// the reply's end.
std::string FieldOf(const uint8_t* reply, size_t length, size_t offset, size_t width) {
    std::string text;
    for (size_t i = offset; i < length && i < offset + width && reply[i] != 0; ++i) text += static_cast<char>(reply[i]);
    return text;
}

constexpr size_t kImeiBytes = 9;
constexpr size_t kImeiDigits = 15;
constexpr size_t kBuildIdTextOffset = 12;

}  // namespace

std::string EsnText(const uint8_t* value, size_t length) { return LittleEndianHex(value, length, 4); }

std::string MeidText(const uint8_t* value, size_t length) { return LittleEndianHex(value, length, 7); }

std::string ImeiText(const uint8_t* value, size_t length) {
    if (value == nullptr || length < kImeiBytes || value[0] != kImeiBytes - 1 || (value[1] & 0x0F) != 0x0A) return {};
    std::string digits;
    for (size_t i = 1; i < kImeiBytes; ++i) {
        const int low = value[i] & 0x0F;
        const int high = value[i] >> 4;
        if (i > 1) digits.push_back(static_cast<char>(low));
        digits.push_back(static_cast<char>(high));
    }
    for (char& digit : digits) {
        if (digit > 9) return {};
        digit = static_cast<char>('0' + digit);
    }
    return digits;
}

bool ImeiCheckDigitValid(const std::string& imei) {
    if (imei.size() != kImeiDigits) return false;
    int sum = 0;
    for (size_t i = 0; i + 1 < kImeiDigits; ++i) {
        int digit = imei[i] - '0';
        if (i % 2 == 1) {
            digit *= 2;
            if (digit > 9) digit -= 9;
        }
        sum += digit;
    }
    return (10 - sum % 10) % 10 == imei[kImeiDigits - 1] - '0';
}

void ReadVersionReply(const uint8_t* reply, size_t length, DeviceIdentity& identity) {
    if (reply == nullptr || length < 2 || reply[0] != kDiagVersionCommand) return;
    identity.compileDate = FieldOf(reply, length, 1, 11);
    identity.compileTime = FieldOf(reply, length, 12, 8);
    identity.releaseDate = FieldOf(reply, length, 20, 11);
    identity.releaseTime = FieldOf(reply, length, 31, 8);
    identity.versionDir = FieldOf(reply, length, 39, 8);
}

void ReadBuildIdReply(const uint8_t* reply, size_t length, DeviceIdentity& identity) {
    if (reply == nullptr || length <= kBuildIdTextOffset || reply[0] != kDiagBuildIdCommand) return;
    identity.buildId = FieldOf(reply, length, kBuildIdTextOffset, length);
    const size_t modelAt = kBuildIdTextOffset + identity.buildId.size() + 1;
    if (modelAt < length) identity.model = FieldOf(reply, length, modelAt, length);
}

IdentityRead ReadDeviceIdentity(IPacketExchange& exchange, uint32_t waitMs, DeviceIdentity& identity) {
    CNvCommands nv(exchange, waitMs);
    struct Item {
        int32_t number;
        std::string (*text)(const uint8_t*, size_t);
        std::string* into;
    };
    for (const Item& item : {Item{kNvItemEsn, EsnText, &identity.esn}, Item{kNvItemImei, ImeiText, &identity.imei},
                             Item{kNvItemMeid, MeidText, &identity.meid}}) {
        const NvReadResult read = nv.ReadNvItem(item.number);
        if (read.result == NvRequestResult::Lost) return IdentityRead::Lost;
        if (read.result == NvRequestResult::Answered && read.status == kNvStatusDone)
            *item.into = item.text(read.data.data(), read.data.size());
    }
    identity.imeiValid = ImeiCheckDigitValid(identity.imei);

    std::array<uint8_t, 512> reply{};
    for (uint8_t command : {kDiagVersionCommand, kDiagBuildIdCommand}) {
        const PacketReply answer =
            exchange.DIAGTxRx(&command, 1, reply.data(), static_cast<uint32_t>(reply.size()), waitMs);
        if (!answer.IsOk()) return IdentityRead::Lost;
        const size_t length = answer.length;
        if (command == kDiagVersionCommand)
            ReadVersionReply(reply.data(), length, identity);
        else
            ReadBuildIdReply(reply.data(), length, identity);
    }
    return IdentityRead::Read;
}

}  // namespace fennix
