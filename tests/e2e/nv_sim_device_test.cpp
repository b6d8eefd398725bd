// The NV memory and file system on a running virtual device, spoken to over
// its pseudo-terminal without the engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "../nv/TestFiles.h"
#include "simulator/EfsTree.h"
#include "simulator/HostPort.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes NvRead(uint16_t item) { return {38, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)}; }

TEST(SimNvDevice, AnswersNvAndFileSystemRequestsOnTheDiagTable) {
    CScopedDevice dev(DiagDevice());
    ASSERT_TRUE(dev.Ok());
    dev->WithState([](DeviceState& s) { s.Extension<CNvMemory>().items[550] = SimNvItem::Plain({0xAB}); });
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));

    Bytes answer = port.Exchange(NvRead(550), false);
    ASSERT_EQ(133u, answer.size());
    EXPECT_EQ(0xAB, answer[3]);
    EXPECT_EQ(0, answer[131]);

    Bytes write(131, 0);
    write[0] = 39, write[1] = 7, write[3] = 0x11;
    answer = port.Exchange(write, false);
    ASSERT_EQ(133u, answer.size());
    EXPECT_EQ(39, answer[0]);

    Bytes mkdir{75, 19, 9, 0, 0xFF, 0x01, 'c', 'f', 'g', 0};
    answer = port.Exchange(mkdir, false);
    ASSERT_EQ(8u, answer.size());
    EXPECT_EQ(9, answer[2]);

    // A malformed NV request and another subsystem are refused as bad commands.
    EXPECT_EQ(0x13, port.Exchange({38, 1}, false).at(0));
    EXPECT_EQ(0x13, port.Exchange({75, 18, 0, 0}, false).at(0));

    dev->WithState([](DeviceState& s) {
        EXPECT_EQ(0x11, s.Extension<CNvMemory>().DataOf(7)[0]);
        EXPECT_TRUE(s.Extension<CEfsTree>().HasDirectory("cfg"));
    });
}

TEST(SimNvDevice, SilenceIsRecordedButNotAnswered) {
    CScopedDevice dev(DiagDevice());
    ASSERT_TRUE(dev.Ok());
    dev->WithState([](DeviceState& s) { s.Extension<CNvMemory>().answersBeforeSilence = 1; });
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    EXPECT_EQ(133u, port.Exchange(NvRead(1), false).size());
    EXPECT_TRUE(port.Exchange(NvRead(1), false, 300ms).empty());
    EXPECT_EQ(2u, dev->Recording().CountRequests(DeviceMode::Diag, 38));
}

TEST(SimNvDevice, StoreFileNamedByTheEnvironmentIsLoadedAndWrittenBack) {
    test::ScratchDir dir;
    const std::string store = dir.File("device.nv");
    test::WriteText(store, "item 550 plain 0102\n");
    setenv("FENNIX_SIM_NV_STORE", store.c_str(), 1);
    {
        CScopedDevice dev(DiagDevice());
        ASSERT_TRUE(dev.Ok());
        CHostPort port;
        ASSERT_EQ(0, port.Open(dev.Path()));
        const Bytes answer = port.Exchange(NvRead(550), false);
        ASSERT_EQ(133u, answer.size());
        EXPECT_EQ(0x02, answer[4]);
        Bytes write(131, 0);
        write[0] = 39, write[1] = 9, write[3] = 0x33;
        ASSERT_EQ(133u, port.Exchange(write, false).size());
    }
    unsetenv("FENNIX_SIM_NV_STORE");
    CNvMemory nv;
    CEfsTree efs;
    std::string error;
    ASSERT_TRUE(LoadNvStoreFile(store, nv, efs, &error)) << error;
    EXPECT_EQ(0x33, nv.DataOf(9)[0]);
    EXPECT_EQ(0x01, nv.DataOf(550)[0]);
}

}  // namespace
}  // namespace fennix::sim
