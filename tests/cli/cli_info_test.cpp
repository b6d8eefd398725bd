// fennix info end to end: one report per port, read at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ToolProcess.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::clitest {
namespace {


const std::vector<std::string> kFields = {"port",       "esn",          "meid",     "imei",
                                          "imei_valid", "compiled",     "released", "version_dir",
                                          "build_id",   "device_model", "mode",     "group"};

// Files that exist but are no serial ports: the engine cannot open them.
TEST(CliInfo, APortThatCannotBeReadGivesItsErrorAndEveryValueNull) {
    const std::string dir = FreshTestDir("cli-info-missing");
    const std::string missing = dir + "/not-a-port";
    std::ofstream(missing) << "";
    std::ofstream(missing + "2") << "";
    ToolResult r = RunTool({"info", "--json", missing, missing + "2"}, dir);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto j = nlohmann::ordered_json::parse(lines[i]);
        std::vector<std::string> keys;
        for (const auto& [key, value] : j.items()) keys.push_back(key);
        std::vector<std::string> expected = kFields;
        expected.push_back("error");
        EXPECT_EQ(keys, expected) << lines[i];
        EXPECT_EQ(j["port"], i == 0 ? missing : missing + "2");
        for (size_t k = 1; k < kFields.size(); ++k) EXPECT_TRUE(j[kFields[k]].is_null()) << kFields[k];
        ASSERT_TRUE(j["error"].is_string());
        EXPECT_FALSE(j["error"].get<std::string>().empty());
    }

    r = RunTool({"info", missing}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(missing + "\n  Error:", 0), 0u) << r.out;
}

// Two devices at once: every value given, and what one device refuses is null.
TEST(CliInfo, EachDeviceGetsItsOwnLineWithItsIdentity) {
    const std::string dir = FreshTestDir("cli-info-devices");
    sim::DeviceOptions a = sim::DiagDevice("Q6250");
    a.directory = dir;
    a.name = "a";
    a.knobs["id.esn"] = 0x8a1b2c3d;
    a.knobs["id.imei"] = 490154203237518;
    a.model = "MODEL-77";
    sim::DeviceOptions b = a;
    b.name = "b";
    b.knobs["id.imei"] = 490154203237519;  // the check digit would be 8
    b.knobs["nv.refuse-item"] = 1943;
    b.model = "";
    sim::CScopedDevice first(a), second(b);
    ASSERT_TRUE(first.Ok() && second.Ok());

    const ToolResult r = RunTool({"info", "--json", first.Path(), second.Path()}, dir);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    const auto one = nlohmann::ordered_json::parse(lines[0]);
    const auto two = nlohmann::ordered_json::parse(lines[1]);
    EXPECT_EQ(one["port"], first.Path());
    EXPECT_EQ(one["esn"], "8A1B2C3D");
    EXPECT_EQ(one["imei"], "490154203237518");
    EXPECT_EQ(one["imei_valid"], true);
    EXPECT_TRUE(one["meid"].is_string());
    EXPECT_EQ(one["device_model"], "MODEL-77");
    EXPECT_EQ(one["mode"], "diag");
    EXPECT_TRUE(one["group"].is_number());
    EXPECT_FALSE(one.contains("error"));
    EXPECT_EQ(two["port"], second.Path());
    EXPECT_EQ(two["imei_valid"], false);
    EXPECT_TRUE(two["meid"].is_null()) << lines[1];
    EXPECT_TRUE(two["device_model"].is_null()) << lines[1];
    EXPECT_FALSE(two.contains("error"));
}

}  // namespace
}  // namespace fennix::clitest
