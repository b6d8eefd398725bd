// The station's recipes end to end against virtual devices in this process:
// each run through a PortRun, as a socket's loop runs it, after reading who
// the device is as the station does when it arrives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "FlowIdentity.h"
#include "Recipe.h"
#include "simulator/NvMemory.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::station {
namespace {

namespace fs = std::filesystem;
using sim::CScopedDevice;

class Recipes : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TEST_TMPDIR");
        dir_ = fs::path(tmp ? tmp : "/tmp") /
               (std::string("recipes-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    // An MSM6280-family device (platform group 1) in DIAG mode.
    std::unique_ptr<CScopedDevice> Device(const std::string& name, int64_t imei) {
        sim::DeviceOptions o = sim::DiagDevice("K7M01");
        o.directory = dir_.string();
        o.name = name;
        if (imei) o.knobs["id.imei"] = imei;
        auto device = std::make_unique<CScopedDevice>(o);
        EXPECT_TRUE(device->Ok());
        return device;
    }
    RecipeOptions Flash(const std::string& model = "6280") {
        sim::SampleImageSizes sizes;
        sizes.amss = 128 * 1024;
        sim::WriteSampleImageSet((dir_ / "images").string(), sizes);
        RecipeOptions o;
        o.name = "flash";
        o.images.directory = (dir_ / "images").string();
        o.images.model = model;
        return o;
    }
    static Recipe Build(const RecipeOptions& options) {
        Recipe recipe;
        std::string error;
        EXPECT_TRUE(BuildRecipe(options, &recipe, &error)) << error;
        return recipe;
    }
    // The recipe on the device at `port`, read first as an arrival.
    static cli::RunSnapshot Run(const Recipe& recipe, const std::string& port) {
        cli::EventQueue events;
        cli::PortRun run(port, recipe.progress(), events);
        run.Start([&](cli::PortRun& r) {
            const Arrival arrival{port, port, cli::RecordIdentity(r, "device", r.ReadIdentity()),
                                  cli::WallClock::now()};
            return recipe.run(r, arrival);
        });
        run.Join();
        return run.Snapshot();
    }
    fs::path dir_;
};

TEST_F(Recipes, FlashWritesTheSetAndReadsTheDeviceAfter) {
    auto device = Device("a", 352099001761481);
    const Recipe recipe = Build(Flash());
    ASSERT_FALSE(recipe.files.empty());
    EXPECT_EQ(recipe.files.front().sha256.size(), 64u);
    const cli::RunSnapshot r = Run(recipe, device->Path());
    ASSERT_EQ(r.state, cli::RunState::Succeeded) << r.failure;
    EXPECT_EQ(r.fields.at("device_after").at("imei"), "352099001761481");
    EXPECT_EQ(r.fields.at("model_check"), "fits");
    EXPECT_GT(sim::SnapshotDownloadTarget(device->Device()).images.size(), 0u);

    // The model check goes by the arrival's identity: nothing is written.
    auto other = Device("b", 352099001761499);
    fs::copy_file(dir_ / "images" / "NPRG6280.HEX", dir_ / "images" / "NPRG6250SEC.HEX");
    const cli::RunSnapshot refused = Run(Build(Flash("6250")), other->Path());
    EXPECT_EQ(refused.state, cli::RunState::Failed);
    EXPECT_EQ(refused.cause, "model-mismatch");
    EXPECT_EQ(sim::SnapshotDownloadTarget(other->Device()).writes, 0u);

    // A set that cannot be used is refused when the recipe is built.
    RecipeOptions broken = Flash();
    fs::remove(dir_ / "images" / "amss.mbn");
    Recipe none;
    std::string error;
    EXPECT_FALSE(BuildRecipe(broken, &none, &error));
    EXPECT_EQ(error.rfind("fennix station: the image set is not usable; no socket was served:\n", 0), 0u) << error;
    EXPECT_NE(error.find("amss.mbn does not exist"), std::string::npos) << error;
}

}  // namespace
}  // namespace fennix::station
