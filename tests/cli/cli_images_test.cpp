// fennix images check/manifest, and flash refusing a set that differs from its manifest.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "ToolProcess.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::clitest {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class CliImages : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = FreshTestDirOfThisTest("cli-images-");
        sim::SampleImageSizes sizes;
        sizes.amss = 64 * 1024;
        sim::WriteSampleImageSet(images_ = (dir_ / "images").string(), sizes);
    }
    ToolResult Run(std::vector<std::string> args) { return RunTool(args, dir_.string()); }
    // The --json object of `images check`, with the files' paths by role.
    json Check(const ToolResult& r, std::map<std::string, std::string>* paths = nullptr) {
        const auto lines = Lines(r.out);
        EXPECT_EQ(lines.size(), 1u) << r.out << r.err;
        const json j = lines.empty() ? json::object() : json::parse(lines[0]);
        if (paths)
            for (const auto& f : j.at("files")) (*paths)[f.at("role")] = f.at("path");
        return j;
    }
    fs::path dir_;
    std::string images_;
};

TEST_F(CliImages, UsualNamesAreFoundWhateverTheirCaseButNeverGuessedBetweenTwo) {
    fs::rename(images_ + "/amss.mbn", images_ + "/AMSS.MBN");
    fs::rename(images_ + "/NPRG6280.HEX", images_ + "/nprg6280.hex");
    fs::rename(images_ + "/cefs.mbn", images_ + "/Cefs.Mbn");
    std::map<std::string, std::string> paths;
    // Without --model too: the one programmer in the folder, in any case.
    const ToolResult r = Run({"images", "check", images_, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Check(r, &paths).at("problems"), json::array());
    EXPECT_EQ(paths["amss"], images_ + "/AMSS.MBN");
    EXPECT_EQ(paths["programmer"], images_ + "/nprg6280.hex");
    EXPECT_EQ(paths["cefs"], images_ + "/Cefs.Mbn");

    fs::copy_file(images_ + "/AMSS.MBN", images_ + "/amss.mbn");
    fs::copy_file(images_ + "/nprg6280.hex", images_ + "/NPRG6280.hex");
    fs::rename(images_ + "/Cefs.Mbn", images_ + "/b.qvcefs");
    fs::copy_file(images_ + "/b.qvcefs", images_ + "/a.CEFS");
    const ToolResult two = Run({"images", "check", images_, "--model", "6280"});
    EXPECT_EQ(two.status, 2);
    EXPECT_NE(two.err.find("--amss: " + images_ + " holds AMSS.MBN and amss.mbn; keep only the one to send"),
              std::string::npos)
        << two.err;
    EXPECT_NE(two.err.find("--programmer: " + images_ + " holds NPRG6280.hex and nprg6280.hex"), std::string::npos)
        << two.err;
    EXPECT_NE(two.err.find("--cefs: " + images_ + " holds a.CEFS and b.qvcefs"), std::string::npos) << two.err;
}

TEST_F(CliImages, ManifestRoundTripAndFlashRefusesAChangedFileBeforeOpeningAPort) {
    const std::vector<std::string> write{"images",       "manifest",      images_, "--model",       "6280", "--version",
                                         "R1.2 (bench)", "--platform-id", "0x3A1", "--platform-id", "0x3A2"};
    ASSERT_EQ(Run(write).status, 0);
    const std::string manifest = images_ + "/fennix-images.json";
    const json written = json::parse(ReadText(manifest));
    EXPECT_EQ(written.at("files").size(), 9u);
    EXPECT_EQ(written.at("files").at("amss"),
              json({{"file", "amss.mbn"}, {"sha256", Sha256Sum(images_ + "/amss.mbn")}}));
    const ToolResult again = Run(write);
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find(manifest + " exists; give --force"), std::string::npos) << again.err;

    const json good = Check(Run({"images", "check", images_, "--json"}));
    EXPECT_EQ(good.at("manifest").at("version"), "R1.2 (bench)");
    EXPECT_EQ(good.at("manifest").at("platform_ids"), json({"0x3A1", "0x3A2"}));
    EXPECT_EQ(good.at("manifest").at("matches"), true);

    const std::string before = Sha256Sum(images_ + "/amss.mbn");
    {
        std::fstream amss(images_ + "/amss.mbn", std::ios::in | std::ios::out | std::ios::binary);
        amss.seekp(1000);
        amss.put('\x5A');
    }
    const std::string after = Sha256Sum(images_ + "/amss.mbn");
    ASSERT_NE(before, after);
    // A port that does not exist: opening it would fail with exit 1 and another message.
    const ToolResult flash = Run({"flash", "--images", images_, "--model", "6280", (dir_ / "no-such-port").string()});
    EXPECT_EQ(flash.status, 2) << flash.out << flash.err;
    EXPECT_NE(flash.err.find("no port was opened"), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find("--amss: " + images_ + "/amss.mbn differs from fennix-images.json: expected SHA-256 " +
                             before + ", found " + after),
              std::string::npos)
        << flash.err;
    const ToolResult check = Run({"images", "check", images_, "--json"});
    EXPECT_EQ(check.status, 2);
    EXPECT_EQ(Check(check).at("manifest").at("matches"), false);

    // Files the manifest does not name, or names but the set lacks, are refused too.
    fs::rename(images_ + "/cefs.mbn", images_ + "/modem.qvcefs");
    ASSERT_EQ(Run({"images", "manifest", images_, "--force"}).status, 0);
    std::ofstream(images_ + "/pbl.mbn") << "pbl";
    fs::remove(images_ + "/modem.qvcefs");
    const ToolResult changed = Run({"images", "check", images_});
    EXPECT_EQ(changed.status, 2);
    EXPECT_NE(changed.err.find("--pbl: " + images_ + "/pbl.mbn is not named in fennix-images.json"), std::string::npos)
        << changed.err;
    EXPECT_NE(changed.err.find("--cefs: fennix-images.json names modem.qvcefs, but the set has no cefs image"),
              std::string::npos)
        << changed.err;

    std::ofstream(manifest) << R"({"schema":1,"files":{"amss":{"file":"amss.mbn","sha256":12}}})";
    const ToolResult wrongType = Run({"images", "check", images_});
    EXPECT_EQ(wrongType.status, 2);
    EXPECT_NE(wrongType.err.find(manifest + ": \"files\".\"amss\".\"sha256\" must be text"), std::string::npos)
        << wrongType.err;
    std::ofstream(manifest) << "{\"schema\":1,";
    const ToolResult notJson = Run({"images", "check", images_});
    EXPECT_NE(notJson.err.find(manifest + " is not valid JSON: "), std::string::npos) << notJson.err;
}

TEST_F(CliImages, CheckJsonListsEveryFileWithSizeAndDigestAndItsProblems) {
    const ToolResult r = Run({"images", "check", images_, "--model", "6280", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const json j = Check(r);
    EXPECT_EQ(j.at("directory"), images_);
    EXPECT_EQ(j.at("manifest"), json());
    EXPECT_EQ(j.at("problems"), json::array());
    std::vector<std::string> roles;
    for (const auto& f : j.at("files")) {
        roles.push_back(f.at("role"));
        EXPECT_EQ(f.at("size"), fs::file_size(f.at("path").get<std::string>())) << f;
        EXPECT_EQ(f.at("sha256"), Sha256Sum(f.at("path"))) << f;
    }
    EXPECT_EQ(roles, (std::vector<std::string>{"programmer", "partition", "qcsblhd", "qcsbl", "oemsblhd", "oemsbl",
                                               "amsshd", "amss", "cefs"}));

    fs::remove(images_ + "/amss.mbn");
    const ToolResult bad = Run({"images", "check", images_, "--model", "6280", "--json"});
    EXPECT_EQ(bad.status, 2);
    const json problems = Check(bad).at("problems");
    ASSERT_EQ(problems.size(), 1u) << problems;
    EXPECT_NE(problems[0].get<std::string>().find("amss.mbn does not exist"), std::string::npos) << problems;
}

}  // namespace
}  // namespace fennix::clitest
