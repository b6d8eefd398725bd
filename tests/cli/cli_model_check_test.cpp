// The model check before a flash: what a device's identity tells about the sets that fit it.
#include <gtest/gtest.h>

#include "ModelCheck.h"

namespace fennix::cli {
namespace {

DeviceIdentity Device(int group, const std::string& buildId) {
    DeviceIdentity d;
    d.mode = "diag";
    d.group = group;
    d.buildId = buildId;
    return d;
}

TEST(ModelCheck, GroupOneIsTheMsm6280FamilyAndGroupZeroCannotTell) {
    const DeviceIdentity k7m = Device(1, "K7M01-BUILD9");
    EXPECT_EQ(CheckModelFit(k7m, "6280", {}).verdict, ModelVerdict::Fits);
    const ModelCheck wrong = CheckModelFit(k7m, "6250", {});
    EXPECT_EQ(wrong.verdict, ModelVerdict::Mismatch);
    EXPECT_EQ(wrong.why, "the device (platform K7M01) is of the MSM6280 family, not the MSM6250 that --model names");
    EXPECT_EQ(CheckModelFit(k7m, "", {}).verdict, ModelVerdict::NotChecked);  // a --programmer of its own
    EXPECT_EQ(CheckModelFit(Device(0, "Q6250SIM"), "7200", {}).verdict, ModelVerdict::NotChecked);
    EXPECT_EQ(CheckModelFit(std::nullopt, "6250", {"K7M01"}).verdict, ModelVerdict::NotChecked);
}

TEST(ModelCheck, ManifestPlatformsAreMatchedWithoutRegardToCase) {
    const DeviceIdentity q = Device(0, "Q6250SIMULATED");
    EXPECT_EQ(CheckModelFit(q, "6250", {"T7413", "q6250"}).verdict, ModelVerdict::Fits);
    const ModelCheck other = CheckModelFit(q, "6250", {"T7413", "K7M01"});
    EXPECT_EQ(other.verdict, ModelVerdict::Mismatch);
    EXPECT_EQ(other.why, "the image set is for the platforms T7413, K7M01, not the device's Q6250");
    // A group-1 device must pass both: its family and the manifest.
    EXPECT_EQ(CheckModelFit(Device(1, "K7M01X"), "6280", {"T7413"}).verdict, ModelVerdict::Mismatch);
    // A device without a build ID cannot be matched against the manifest.
    EXPECT_EQ(CheckModelFit(Device(0, ""), "6250", {"T7413"}).verdict, ModelVerdict::NotChecked);
}

}  // namespace
}  // namespace fennix::cli
