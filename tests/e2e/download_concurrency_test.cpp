// Eight downloads at once, one thread each, on devices that start in every
// mode; and one download at the device's real timings.
#include <gtest/gtest.h>

#include <thread>

#include "download_e2e_support.h"

namespace fennix::testsupport {
namespace {

TEST(DownloadConcurrency, EightSessionsOnEightThreadsFlashTheirOwnDevices) {
    const sim::DeviceOptions kinds[] = {sim::AtDevice(),          sim::AtDevice(),          sim::DiagDevice("Q6250"),
                                        sim::DiagDevice("Q6280"), sim::DiagDevice("T7413"), sim::DiagDevice("K7M01"),
                                        sim::DownloadDevice(),    sim::DownloadDevice()};
    TestImageSet images;
    std::vector<std::unique_ptr<DownloadRig>> rigs;
    for (const auto& kind : kinds) {
        rigs.push_back(std::make_unique<DownloadRig>(kind));
        ASSERT_TRUE(rigs.back()->Ok());
        images.Apply(rigs.back()->Session());
    }
    std::vector<int32_t> results(rigs.size(), 0);
    std::vector<std::vector<ReportedLine>> lines(rigs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rigs.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = rigs[i]->Run();
            lines[i] = ThreadLines();  // each thread's callback saw only its own session
        });
    }
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < rigs.size(); ++i) {
        SCOPED_TRACE("device " + std::to_string(i));
        EXPECT_EQ(1, results[i]);
        ASSERT_FALSE(lines[i].empty());
        EXPECT_EQ("Start To Download Process...", lines[i].front().text);
        EXPECT_EQ("Download Process Success!!", lines[i].back().text);
        int successLines = 0;
        for (const auto& l : lines[i]) successLines += l.text == "Download Process Success!!";
        EXPECT_EQ(1, successLines);
        const sim::FlashCheck check = sim::CompareWithSet(rigs[i]->Flash(), images.Set());
        EXPECT_TRUE(check.identical) << check.detail;
    }
}

TEST(DownloadRealTime, WholeDownloadAtTheDevicesTimings) {
    sim::SampleImageSizes sizes = TestImageSet::SmallSizes();
    sizes.cefs = 0;
    TestImageSet images(sizes);
    DownloadRig rig(sim::DownloadDevice(), Timeouts::WithScale(1.0));
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.Session().SetImagePaths(images.Set().partition.c_str(), "", "", images.Set().qcsblhd.c_str(),
                                images.Set().qcsbl.c_str(), images.Set().oemsblhd.c_str(), images.Set().oemsbl.c_str(),
                                images.Set().amsshd.c_str(), images.Set().amss.c_str(), "");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, rig.Run());
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ("Download Process Success!!", ThreadLines().back().text);
    EXPECT_TRUE(sim::CompareWithSet(rig.Flash(), images.Set()).identical);
    // The power-on check waits its full ten seconds before looking for the device.
    EXPECT_GE(seconds, 10.0);
}

}  // namespace
}  // namespace fennix::testsupport
