// Built for Windows only: the request this build sends, made from the
// platform's own SCSI_PASS_THROUGH, is the mirror layout's byte for byte.
#include "win32/PlatformModeSwitchRequest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quillon {
namespace {

template <class Buffer>
std::vector<uint8_t> AsBytes(const Buffer& buffer) {
    std::vector<uint8_t> bytes(sizeof buffer);
    std::memcpy(bytes.data(), &buffer, sizeof buffer);
    return bytes;
}

TEST(PlatformModeSwitchRequest, MatchesTheMirrorOfThisPointerSize) {
    PlatformModeSwitchBuffer platform;
    BuildModeSwitchRequest(platform);
    ModeSwitchBuffer<ScsiPassThroughNative> mirror;
    BuildModeSwitchRequest(mirror);
    EXPECT_EQ(AsBytes(mirror), AsBytes(platform));
    EXPECT_EQ(sizeof(void*) == 8 ? 56u : 44u, ModeSwitchInputLength<SCSI_PASS_THROUGH>());
    EXPECT_EQ(sizeof(void*) == 8 ? 284u : 272u, ModeSwitchOutputLength<SCSI_PASS_THROUGH>());
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH), platform.spt.Length);
}

}  // namespace
}  // namespace quillon
