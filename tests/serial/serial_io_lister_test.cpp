// The list of Qualcomm serial ports behind GetComportList, against a port
// table the test fills: registry values on Windows, a fake sysfs tree on Linux.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "fennix/fennix.h"
#include "platform/SerialPortTable.h"
#include "serial/ComportLister.h"
#include "serial/SerialIO.h"

namespace fennix {
namespace {

// A port table holding only what the test adds (Linux), or the system's
// table plus the test's values, removed again afterwards (Windows).
class PortTable {
public:
    PortTable() {
#if defined(_WIN32)
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key_, nullptr);
#else
        root_ = ::testing::TempDir() + "fennix_lister_" + std::to_string(getpid());
        Run("rm -rf '" + root_ + "' && mkdir -p '" + root_ + "/class/tty' '" + root_ + "/drivers/qcserial' '" + root_ +
            "/drivers/serial8250' '" + root_ + "/drivers/cdc_acm'");
        setenv("FENNIX_SYSFS_ROOT", root_.c_str(), 1);
#endif
    }
    ~PortTable() {
#if defined(_WIN32)
        for (const std::string& name : added_) RegDeleteValueA(key_, name.c_str());
        if (key_ != nullptr) RegCloseKey(key_);
#else
        unsetenv("FENNIX_SYSFS_ROOT");
        Run("rm -rf '" + root_ + "'");
#endif
    }

    bool ok() const {
#if defined(_WIN32)
        return key_ != nullptr;
#else
        return true;
#endif
    }

    // Windows: a kernel device name and its COM port name. Linux: the tty's
    // name and its driver.
    void Add(const std::string& first, const std::string& second) {
#if defined(_WIN32)
        RegSetValueExA(key_, first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(second.c_str()),
                       static_cast<DWORD>(second.size() + 1));
        added_.push_back(first);
#else
        std::string dir = root_ + "/class/tty/" + first + "/device";
        Run("mkdir -p '" + dir + "' && ln -s '" + root_ + "/drivers/" + second + "' '" + dir + "/driver'");
#endif
    }

private:
#if defined(_WIN32)
    HKEY key_ = nullptr;
    std::vector<std::string> added_;
#else
    static void Run(const std::string& command) { ASSERT_EQ(0, std::system(command.c_str())); }
    std::string root_;
#endif
};

std::string ListedPorts() {
    std::vector<char> buffer(kComportListBufferSize + 16, 'x');
    EXPECT_EQ(0, GetComportList(buffer.data()));
    return std::string(buffer.data());
}

#if defined(_WIN32)
TEST(ComportLister, QualcommPortsInTableOrderAndNothingElse) {
    PortTable table;
    ASSERT_TRUE(table.ok());
    table.Add("\\Device\\QCUSB_Fennix_A", "COM43");
    table.Add("\\Device\\Serial_Fennix0", "COM41");
    table.Add("\\DEVICE\\qcusb_Fennix_C", "COM47");  // case does not matter
    std::string list = ListedPorts();
    // Whatever else the system lists, ours come in table order.
    EXPECT_NE(std::string::npos, list.find("COM43;COM47")) << list;
    EXPECT_EQ(std::string::npos, list.find("COM41")) << list;
    CComportLister lister;
    EXPECT_EQ(list, lister.BuildList());
}

TEST(ComportLister, RegisteredMeansTheNumberIsInTheTable) {
    PortTable table;
    ASSERT_TRUE(table.ok());
    table.Add("\\Device\\Serial_Fennix9", "COM49");
    EXPECT_TRUE(platform::IsSerialPortPresent("com49", 49, &CSerialIO::ParsePortNumber));
    EXPECT_FALSE(platform::IsSerialPortPresent("com4998", 4998, &CSerialIO::ParsePortNumber));
}
#else
TEST(ComportLister, QualcommPortsInTableOrderAndNothingElse) {
    PortTable table;
    table.Add("ttyUSB7", "qcserial");
    table.Add("ttyS0", "serial8250");
    table.Add("ttyUSB3", "qcserial");
    table.Add("ttyACM0", "cdc_acm");
    EXPECT_EQ("/dev/ttyUSB3;/dev/ttyUSB7", ListedPorts());
    CComportLister lister;
    EXPECT_STREQ("/dev/ttyUSB3;/dev/ttyUSB7", lister.BuildList());
    // Built anew on every call.
    table.Add("ttyUSB9", "qcserial");
    EXPECT_STREQ("/dev/ttyUSB3;/dev/ttyUSB7;/dev/ttyUSB9", lister.BuildList());
}

TEST(ComportLister, OnePortHasNoSeparatorAndNoneGivesAnEmptyText) {
    {
        PortTable table;
        table.Add("ttyS1", "serial8250");
        EXPECT_EQ("", ListedPorts());
        table.Add("ttyUSB0", "qcserial");
        EXPECT_EQ("/dev/ttyUSB0", ListedPorts());
    }
    // No table at all.
    setenv("FENNIX_SYSFS_ROOT", "/nonexistent/fennix", 1);
    EXPECT_EQ("", ListedPorts());
    unsetenv("FENNIX_SYSFS_ROOT");
}
#endif

TEST(ComportLister, ALongListIsCutBeforeTheFirstNameThatDoesNotFit) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    CopyPortList("COM3;COM7;COM11;COM12", buffer, sizeof buffer);
    EXPECT_STREQ("COM3;COM7;COM11", buffer);
    CopyPortList("COM3;COM7", buffer, sizeof buffer);
    EXPECT_STREQ("COM3;COM7", buffer);
    CopyPortList("COM3;COM7;COM11;", buffer, sizeof buffer);  // exactly one too long
    EXPECT_STREQ("COM3;COM7;COM11", buffer);
    CopyPortList("COM12345678901234567", buffer, sizeof buffer);
    EXPECT_STREQ("", buffer);
    CopyPortList("", buffer, sizeof buffer);
    EXPECT_STREQ("", buffer);
    // 256 bytes are the most GetComportList ever writes.
    std::string many;
    for (int i = 0; i < 100; ++i) many += (many.empty() ? "COM" : ";COM") + std::to_string(i);
    std::vector<char> big(1000, 'x');
    CopyPortList(many.c_str(), big.data(), kComportListBufferSize);
    size_t length = std::strlen(big.data());
    EXPECT_LT(length, kComportListBufferSize);
    EXPECT_EQ(many.substr(0, length), std::string(big.data()));
    EXPECT_EQ(';', many[length]);
    EXPECT_EQ('x', big[kComportListBufferSize]);
}

}  // namespace
}  // namespace fennix
