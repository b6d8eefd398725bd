#include "nv/DeviceIdentity.h"

#include <gtest/gtest.h>

#include <string>

#include "ScriptedExchange.h"

namespace fennix {
namespace {

using test::Bytes;
using test::DeviceReply;

// 490154203237518 behind the length byte and the 0xA nibble, nibbles swapped.
const Bytes kImei = {0x08, 0x4A, 0x09, 0x51, 0x24, 0x30, 0x32, 0x57, 0x81};

TEST(DeviceIdentity, ItemValuesReadAsTheirTexts) {
    const uint8_t esn[] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ("12345678", EsnText(esn, sizeof esn));
    EXPECT_EQ("", EsnText(esn, 3));
    const uint8_t meid[] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0xA0};
    EXPECT_EQ("A0456789ABCDEF", MeidText(meid, sizeof meid));

    EXPECT_EQ("490154203237518", ImeiText(kImei.data(), kImei.size()));
    EXPECT_TRUE(ImeiCheckDigitValid("490154203237518"));
    Bytes badCheck = kImei;
    badCheck[8] = 0x91;  // last digit 9
    EXPECT_EQ("490154203237519", ImeiText(badCheck.data(), badCheck.size()));
    EXPECT_FALSE(ImeiCheckDigitValid("490154203237519"));
    // An unset item, a missing 0xA nibble or a non-digit nibble is no IMEI.
    const Bytes unset(9, 0);
    EXPECT_EQ("", ImeiText(unset.data(), unset.size()));
    Bytes noMarker = kImei;
    noMarker[1] = 0x4F;
    EXPECT_EQ("", ImeiText(noMarker.data(), noMarker.size()));
    Bytes hexDigit = kImei;
    hexDigit[4] = 0x2C;
    EXPECT_EQ("", ImeiText(hexDigit.data(), hexDigit.size()));
}

Bytes Text(const std::string& text, size_t width) {
    Bytes out(text.begin(), text.end());
    out.resize(width, 0);
    return out;
}

Bytes VersionReply() {
    Bytes reply{0x00};
    for (const Bytes& field : {Text("Dec 01 2008", 11), Text("12:34:56", 8), Text("Dec 02 2008", 11),
                               Text("01:02:03", 8), Text("dvr4162", 8), Bytes{0x01, 0x06}})
        reply.insert(reply.end(), field.begin(), field.end());
    return reply;
}

Bytes BuildIdReply(bool withModel) {
    Bytes reply(12, 0);
    reply[0] = 0x7C;
    const std::string texts = withModel ? std::string("Q6250-BUILD\0MODEL X\0", 20) : std::string("K7M01-B\0", 8);
    reply.insert(reply.end(), texts.begin(), texts.end());
    return reply;
}

TEST(DeviceIdentity, RepliesGiveTheirTexts) {
    DeviceIdentity id;
    const Bytes version = VersionReply();
    ReadVersionReply(version.data(), version.size(), id);
    EXPECT_EQ("Dec 01 2008", id.compileDate);
    EXPECT_EQ("12:34:56", id.compileTime);
    EXPECT_EQ("Dec 02 2008", id.releaseDate);
    EXPECT_EQ("01:02:03", id.releaseTime);
    EXPECT_EQ("dvr4162", id.versionDir);

    Bytes build = BuildIdReply(true);
    ReadBuildIdReply(build.data(), build.size(), id);
    EXPECT_EQ("Q6250-BUILD", id.buildId);
    EXPECT_EQ("MODEL X", id.model);
    DeviceIdentity bare;
    build = BuildIdReply(false);
    ReadBuildIdReply(build.data(), build.size(), bare);
    EXPECT_EQ("K7M01-B", bare.buildId);
    EXPECT_EQ("", bare.model);
    // A refusal (bad command, echoing the request) fills nothing.
    const Bytes refusal{0x13, 0x7C};
    DeviceIdentity refused;
    ReadBuildIdReply(refusal.data(), refusal.size(), refused);
    ReadVersionReply(refusal.data(), refusal.size(), refused);
    EXPECT_EQ("", refused.buildId);
    EXPECT_EQ("", refused.compileDate);
}

Bytes NvReadAnswer(const Bytes& request, const Bytes& value) {
    Bytes answer(133, 0);
    answer[0] = 0x26;
    answer[1] = request[1];
    answer[2] = request[2];
    std::copy(value.begin(), value.end(), answer.begin() + 3);
    return answer;
}

TEST(DeviceIdentity, RefusedItemIsEmptyAndSilenceIsLost) {
    test::ScriptedExchange device;
    bool versionAnswered = true;
    device.device = [&](const Bytes& request) -> DeviceReply {
        if (request[0] == 0x26 && request[1] == (1943 & 0xFF)) return {0, Bytes{0x14, 0x26, request[1], request[2]}};
        if (request[0] == 0x26 && request[1] == 0) return {0, NvReadAnswer(request, {0x78, 0x56, 0x34, 0x12})};
        if (request[0] == 0x26) return {0, NvReadAnswer(request, kImei)};
        if (request[0] == 0x00) return versionAnswered ? DeviceReply{0, VersionReply()} : test::Silent();
        return {0, Bytes{0x13, request[0]}};
    };
    DeviceIdentity id;
    ASSERT_EQ(IdentityRead::Read, ReadDeviceIdentity(device, 10, id));
    EXPECT_EQ("12345678", id.esn);
    EXPECT_EQ("490154203237518", id.imei);
    EXPECT_TRUE(id.imeiValid);
    EXPECT_EQ("", id.meid);
    EXPECT_EQ("dvr4162", id.versionDir);
    EXPECT_EQ("", id.buildId);

    versionAnswered = false;
    DeviceIdentity lost;
    EXPECT_EQ(IdentityRead::Lost, ReadDeviceIdentity(device, 10, lost));
}

}  // namespace
}  // namespace fennix
