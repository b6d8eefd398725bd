// The station's config file: what it sets, what it refuses, where its relative paths lead.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "StationSettings.h"
#include "ToolProcess.h"

namespace fennix::station {
namespace {

std::string WriteConfig(const std::string& dir, const std::string& text) {
    const std::string path = dir + "/station.toml";
    std::ofstream(path) << text;
    return path;
}

TEST(StationConfig, GoodFileSetsItsKeysAndLeavesTheOthers) {
    const std::string dir = clitest::FreshTestDirOfThisTest("config-");
    const std::string path = WriteConfig(dir, R"(name = "line-3"
operator = "night shift"
db = "/var/lib/fennix/station.db"
sockets = ["/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", "/dev/ttyUSB7"]
drain_timeout = 90.5
http = "0.0.0.0:8080"
http_token_file = "/etc/fennix/web-token"
[recipe]
name = "upgrade"
images = "/srv/firmware/dvr4200"
model = "6280"
items = "/etc/fennix/keep.csv"
backups = "/var/lib/fennix/backups"
amss = "/srv/amss-fixed.mbn"
no_cefs = true
skip_check = true
window = 8
block = "auto"
)");
    StationSettings settings;
    settings.json = true;
    settings.recipe.duck = "/kept.duck";
    std::string error;
    ASSERT_TRUE(LoadStationConfig(path, &settings, &error)) << error;
    EXPECT_EQ(settings.name, "line-3");
    EXPECT_EQ(settings.operatorName, "night shift");
    EXPECT_EQ(settings.db, "/var/lib/fennix/station.db");
    EXPECT_EQ(settings.sockets,
              (std::vector<std::string>{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", "/dev/ttyUSB7"}));
    EXPECT_DOUBLE_EQ(settings.drainTimeoutSeconds, 90.5);
    EXPECT_EQ(settings.http, "0.0.0.0:8080");
    EXPECT_EQ(settings.httpTokenFile, "/etc/fennix/web-token");
    EXPECT_EQ(settings.recipe.name, "upgrade");
    EXPECT_EQ(settings.recipe.images.directory, "/srv/firmware/dvr4200");
    EXPECT_EQ(settings.recipe.images.model, "6280");
    EXPECT_EQ(settings.recipe.items, "/etc/fennix/keep.csv");
    EXPECT_EQ(settings.recipe.backups, "/var/lib/fennix/backups");
    EXPECT_EQ(settings.recipe.files["amss"], "/srv/amss-fixed.mbn");
    EXPECT_TRUE(settings.recipe.leftOut["cefs"]);
    EXPECT_TRUE(settings.recipe.skipCheck);
    EXPECT_EQ(settings.recipe.streaming.window, "8");
    EXPECT_EQ(settings.recipe.streaming.block, "auto");
    // Keys the file does not hold keep what they had.
    EXPECT_TRUE(settings.json);
    EXPECT_EQ(settings.recipe.duck, "/kept.duck");

    ASSERT_TRUE(LoadStationConfig(WriteConfig(dir, "sockets = \"auto\"\n"), &settings, &error)) << error;
    EXPECT_EQ(settings.sockets, std::vector<std::string>{"auto"});

    // The example the package installs beside the service unit.
    StationSettings example;
    ASSERT_TRUE(LoadStationConfig(FENNIX_SOURCE_DIR "/packaging/systemd/station.toml", &example, &error)) << error;
    EXPECT_EQ(example.recipe.name, "upgrade");
    EXPECT_EQ(example.sockets.size(), 2u);
}

// Each fault is named by its line and key; the settings stay as they were.
TEST(StationConfig, UnknownKeysWrongTypesAndBadSyntaxNameTheLineAndChangeNothing) {
    const std::string dir = clitest::FreshTestDirOfThisTest("config-");
    const struct {
        const char* text;
        const char* where;  // "line N:"
        const char* says;
    } cases[] = {
        {"name = \"x\"\n[recipe]\nname = \"flash\"\nimagez = \"/a\"\n", "line 4:", "unknown key \"recipe.imagez\""},
        {"name = \"x\"\nsocket = [\"/dev/ttyUSB0\"]\n", "line 2:", "unknown key \"socket\""},
        {"name = \"x\"\n\ndrain_timeout = \"ten\"\n", "line 3:", "\"drain_timeout\" must be"},
        {"drain_timeout = -1\n", "line 1:", "\"drain_timeout\" must be"},
        {"sockets = [\"/dev/ttyUSB0\",\n  7]\n", "line 2:", "\"sockets\" must be"},
        {"sockets = \"/dev/ttyUSB0\"\n", "line 1:", "\"sockets\" must be"},
        {"name = \"x\"\nrecipe = \"flash\"\n", "line 2:", "\"recipe\" must be a table"},
        {"[recipe]\nskip_check = \"yes\"\n", "line 2:", "\"recipe.skip_check\" must be true or false"},
        {"[recipe]\nmodel = 6280\n", "line 2:", "\"recipe.model\" must be a string"},
        {"[recipe]\nwindow = true\n", "line 2:", "\"recipe.window\" must be a string or a whole number"},
        {"name = \"x\"\nname = \n", "line 2:", ""},
    };
    for (const auto& c : cases) {
        const std::string path = WriteConfig(dir, c.text);
        StationSettings settings;
        settings.name = "before";
        std::string error;
        EXPECT_FALSE(LoadStationConfig(path, &settings, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << c.text << "\n" << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.text << "\n" << error;
        EXPECT_EQ(settings.name, "before") << c.text;
    }
    StationSettings settings;
    std::string error;
    EXPECT_FALSE(LoadStationConfig(dir + "/none.toml", &settings, &error));
    EXPECT_EQ(error, "cannot read the file");
}

TEST(StationConfig, RelativePathsAreTakenFromTheFilesFolder) {
    const std::string dir = clitest::FreshTestDirOfThisTest("config-");
    std::filesystem::create_directories(dir + "/etc");
    const std::string path = dir + "/etc/station.toml";
    std::ofstream(path) << R"(db = "station.db"
sockets = ["ports/a", "/dev/ttyUSB1"]
[recipe]
images = "../firmware"
duck = "/abs/x.duck"
out = "backups/{imei}.brt"
)";
    // Read from another working folder, by a relative name.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    StationSettings settings;
    std::string error;
    const bool loaded = LoadStationConfig("etc/station.toml", &settings, &error);
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(settings.db, dir + "/etc/station.db");
    EXPECT_EQ(settings.sockets, (std::vector<std::string>{dir + "/etc/ports/a", "/dev/ttyUSB1"}));
    EXPECT_EQ(settings.recipe.images.directory, dir + "/firmware");
    EXPECT_EQ(settings.recipe.duck, "/abs/x.duck");
    EXPECT_EQ(settings.recipe.out, dir + "/etc/backups/{imei}.brt");
}

}  // namespace
}  // namespace fennix::station
