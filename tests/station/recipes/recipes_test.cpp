// The station's recipes end to end against virtual devices in this process:
// each run through a PortRun, as a socket's loop runs it, after reading who
// the device is as the station does when it arrives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

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
    // The recipe on the device at `port`, read first as an arrival at `at`;
    // `onEvent` sees the run's events on this thread while it runs.
    static cli::RunSnapshot Run(const Recipe& recipe, const std::string& port,
                                cli::WallClock::time_point at = cli::WallClock::now(),
                                const std::function<void(const cli::Event&)>& onEvent = {}) {
        cli::EventQueue events;
        cli::PortRun run(port, recipe.progress(), events);
        run.Start([&](cli::PortRun& r) {
            const Arrival arrival{port, port, cli::RecordIdentity(r, "device", r.ReadIdentity()), at};
            return recipe.run(r, arrival);
        });
        if (onEvent) {
            for (bool running = true; running; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                const auto state = run.Snapshot().state;
                running = state == cli::RunState::Waiting || state == cli::RunState::Running;
                for (const auto& event : events.Take()) onEvent(event);
            }
        }
        run.Join();
        return run.Snapshot();
    }
    template <typename F>
    static void Memory(CScopedDevice& device, F change) {
        device->WithState([&](sim::DeviceState& s) { change(s.Extension<sim::CNvMemory>()); });
    }
    // Items 10 and 4000 with values, item 30 listed but not active.
    static void Preload(CScopedDevice& device) {
        Memory(device, [](sim::CNvMemory& nv) {
            nv.items[10] = sim::SimNvItem::Plain(std::vector<uint8_t>(128, 0x11));
            nv.items[4000] = sim::SimNvItem::Plain(std::vector<uint8_t>(128, 0x22));
            nv.items[30] = sim::SimNvItem::WithStatus(5);
        });
    }
    RecipeOptions Upgrade(CScopedDevice& device) {
        Preload(device);
        std::ofstream(dir_ / "items.csv") << "Name;Item\ncal;10\nband;4000\ninactive;30\n";
        RecipeOptions o = Flash();
        o.name = "upgrade";
        o.items = (dir_ / "items.csv").string();
        o.backups = (dir_ / "backups").string();
        return o;
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

TEST_F(Recipes, FlashStreamsWithTheWindowTheDeviceAnnouncesWhenAsked) {
    auto device = Device("w", 352099001761507);
    device->Device().WithState([](sim::DeviceState& s) {
        s.options.knobs["dl.window"] = 8;
        s.options.knobs["link.profile"] = 1;
    });
    RecipeOptions o = Flash();
    o.streaming.window = "auto";
    const cli::RunSnapshot r = Run(Build(o), device->Path());
    ASSERT_EQ(r.state, cli::RunState::Succeeded) << r.failure;
    const int most = device->Device().Recording().StreamWindow().mostOutstanding;
    EXPECT_GT(most, 1);
    EXPECT_LE(most, 8);

    Recipe none;
    std::string error;
    o.streaming.window = "0";
    EXPECT_FALSE(BuildRecipe(o, &none, &error));
    EXPECT_EQ(error, "fennix station: window must be auto or 1 to 65535, not \"0\"");
}

// The flash resets item 10 (as a new firmware may): the restore brings it
// back, and reading the items again proves it. Where the device refuses the
// write (which fails no restore) the second read tells, and the backup stays.
TEST_F(Recipes, UpgradeKeepsTheNvItemsThroughTheFlash) {
    auto device = Device("a", 352099001761481), refusing = Device("b", 352099001761499);
    const Recipe recipe = Build(Upgrade(*device));
    Preload(*refusing);
    // The item reset when the flash writes its first bytes; the bar then.
    const auto upgrade = [&](CScopedDevice& target, bool refuse, int* writing) {
        return Run(recipe, target.Path(), cli::WallClock::now(), [&, refuse, writing](const cli::Event& event) {
            if (*writing >= 0 || event.stage != "image-write") return;
            *writing = event.percent;
            Memory(target, [refuse](sim::CNvMemory& nv) {
                nv.items[10] = sim::SimNvItem::Plain({});
                if (refuse) nv.items[10].writeStatus = 5;
            });
        });
    };
    int writing = -1, refusedWriting = -1;
    cli::RunSnapshot refused;
    std::thread other([&] { refused = upgrade(*refusing, true, &refusedWriting); });
    const cli::RunSnapshot r = upgrade(*device, false, &writing);
    other.join();
    ASSERT_GE(writing, 0);
    EXPECT_LT(writing, 100) << "the bar was full before the flash wrote its images";
    ASSERT_EQ(r.state, cli::RunState::Succeeded) << r.failure;
    EXPECT_EQ(r.fields.at("nv_verified"), true);
    EXPECT_EQ(r.fields.at("missing"), nlohmann::ordered_json::array({30}));
    EXPECT_EQ(r.fields.at("device_after").at("imei"), "352099001761481");
    Memory(*device, [](sim::CNvMemory& nv) { EXPECT_EQ(nv.DataOf(10), std::vector<uint8_t>(128, 0x11)); });
    // The backup stays, named after the device; the file of the second read is gone.
    const std::string path = r.fields.at("backup_path");
    EXPECT_EQ(fs::path(path).parent_path(), dir_ / "backups");
    EXPECT_EQ(fs::path(path).filename().string().rfind("352099001761481-", 0), 0u) << path;
    EXPECT_EQ(r.fields.at("backup_sha256").get<std::string>().size(), 64u);

    ASSERT_GE(refusedWriting, 0);
    EXPECT_EQ(refused.state, cli::RunState::Failed);
    EXPECT_EQ(refused.cause, "nv-mismatch");
    EXPECT_EQ(refused.fields.at("nv_verified"), false);
    const std::string kept = refused.fields.at("backup_path");
    EXPECT_NE(refused.failure.find("read back otherwise than backed up: 10; the backup is kept in " + kept),
              std::string::npos)
        << refused.failure;
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "backups"), fs::directory_iterator()), 2);
}

// Nothing reaches the device when the backup cannot be made: not when the
// backup folder went away, not when the device does not say who it is.
TEST_F(Recipes, UpgradeWithoutABackupWritesNothing) {
    auto device = Device("a", 352099001761481);
    const Recipe recipe = Build(Upgrade(*device));
    fs::remove_all(dir_ / "backups");
    const cli::RunSnapshot r = Run(recipe, device->Path());
    EXPECT_EQ(r.state, cli::RunState::Failed);
    EXPECT_EQ((*device)->Recording().CountRequests(sim::DeviceMode::Diag, 0x3A), 0u);
    EXPECT_EQ(sim::SnapshotDownloadTarget(device->Device()).writes, 0u);
    Memory(*device, [](sim::CNvMemory& nv) { EXPECT_EQ(nv.writes, 0u); });
    EXPECT_FALSE(r.fields.contains("device_after"));

    sim::DeviceOptions o = sim::DownloadDevice();
    o.directory = dir_.string();
    o.name = "dl";
    CScopedDevice inDownload(o);
    ASSERT_TRUE(inDownload.Ok());
    const cli::RunSnapshot unknown = Run(Build(Upgrade(*device)), inDownload.Path());
    EXPECT_EQ(unknown.cause, "identity-missing");
    EXPECT_EQ(sim::SnapshotDownloadTarget(inDownload.Device()).writes, 0u);
}

// Two devices that give one IMEI and arrive in the same second: two files.
TEST_F(Recipes, BackupsOfOneSecondNeverShareAFile) {
    auto a = Device("a", 352099001761481), b = Device("b", 352099001761481);
    RecipeOptions o = Upgrade(*a);
    Preload(*b);
    o.name = "backup";
    const Recipe recipe = Build(o);
    const auto at = cli::WallClock::now();
    cli::RunSnapshot first, second;
    std::thread other([&] { second = Run(recipe, b->Path(), at); });
    first = Run(recipe, a->Path(), at);
    other.join();
    ASSERT_EQ(first.state, cli::RunState::Succeeded) << first.failure;
    ASSERT_EQ(second.state, cli::RunState::Succeeded) << second.failure;
    EXPECT_NE(first.fields.at("backup_path"), second.fields.at("backup_path"));
    EXPECT_TRUE(fs::exists(first.fields.at("backup_path").get<std::string>()));
    EXPECT_TRUE(fs::exists(second.fields.at("backup_path").get<std::string>()));
}

// The NV recipes per device: a backup named after the device, its restore
// found by the same template, a duck file written in.
TEST_F(Recipes, NvRecipesFillTheirFilesPerDevice) {
    auto device = Device("a", 352099001761481);
    RecipeOptions o = Upgrade(*device);
    o.name = "backup";
    o.out = (dir_ / "{imei}.brt").string();
    ASSERT_EQ(Run(Build(o), device->Path()).state, cli::RunState::Succeeded);
    Memory(*device, [](sim::CNvMemory& nv) { nv.items[4000] = sim::SimNvItem::Plain({}); });
    o.name = "restore";
    o.in = o.out;
    const cli::RunSnapshot restored = Run(Build(o), device->Path());
    ASSERT_EQ(restored.state, cli::RunState::Succeeded) << restored.failure;
    EXPECT_EQ(restored.fields.at("in"), (dir_ / "352099001761481.brt").string());
    Memory(*device, [](sim::CNvMemory& nv) { EXPECT_EQ(nv.DataOf(4000), std::vector<uint8_t>(128, 0x22)); });

    std::ofstream duck(dir_ / "set.duck", std::ios::binary);
    const int32_t head[2] = {4000, 128};
    duck.write(reinterpret_cast<const char*>(head), sizeof head);
    duck << std::string(128, '\x33');
    duck.close();
    o.name = "import";
    o.duck = (dir_ / "set.duck").string();
    ASSERT_EQ(Run(Build(o), device->Path()).state, cli::RunState::Succeeded);
    Memory(*device, [](sim::CNvMemory& nv) { EXPECT_EQ(nv.DataOf(4000), std::vector<uint8_t>(128, 0x33)); });

    // An upgrade always waits for the device to come back before writing the items.
    o.name = "upgrade";
    o.skipCheck = true;
    Recipe none;
    std::string error;
    EXPECT_FALSE(BuildRecipe(o, &none, &error));
    EXPECT_NE(error.find("--skip-check is for the flash recipe"), std::string::npos) << error;
}

}  // namespace
}  // namespace fennix::station
