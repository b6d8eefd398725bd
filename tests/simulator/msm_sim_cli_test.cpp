// The msm-sim program: prints one path per device, serves until stdin closes
// or a signal arrives, removes its paths on the way out.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "DeviceTest.h"
#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/Knobs.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ToHex;

// Runs msm-sim with the arguments; stdin and stdout are pipes.
class CSimProcess {
public:
    explicit CSimProcess(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int quiet = open("/dev/null", O_WRONLY);  // usage texts would clutter the test log
            if (quiet >= 0) dup2(quiet, 2);
            std::vector<char*> argv{const_cast<char*>(MSM_SIM_PROGRAM)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(MSM_SIM_PROGRAM, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = fdopen(out[0], "r");
    }
    ~CSimProcess() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (stdin_ >= 0) close(stdin_);
        if (stdout_) fclose(stdout_);
    }
    std::string ReadLine() {
        char line[512];
        if (!stdout_ || !fgets(line, sizeof line, stdout_)) return "";
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    void CloseStdin() {
        close(stdin_);
        stdin_ = -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    FILE* stdout_ = nullptr;
    bool waited_ = false;
};

using test::PathExists;

TEST(MsmSimProgram, ServesDevicesUntilStdinCloses) {
    CSimProcess sim({"-n", "3", "--mode", "download"});
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) paths.push_back(sim.ReadLine());
    for (const auto& p : paths) {
        ASSERT_FALSE(p.empty());
        CHostPort port;
        ASSERT_EQ(0, port.Open(p)) << p;
        EXPECT_EQ(Hex("02"), port.Exchange(Hex("06"), true)) << p;
    }
    EXPECT_NE(paths[0], paths[1]);
    EXPECT_NE(paths[1], paths[2]);
    sim.CloseStdin();
    EXPECT_EQ(0, sim.Wait());
    for (const auto& p : paths) EXPECT_FALSE(PathExists(p)) << p;
    EXPECT_FALSE(PathExists(paths[0].substr(0, paths[0].rfind('/'))));
}

TEST(MsmSimProgram, OptionsReachTheDevicesAndSigtermEndsIt) {
    std::string dir = std::string(::testing::TempDir()) + "msm-sim-cli-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir.data()));
    CSimProcess sim({"--dir", dir, "--name", "COM7", "--name", "COM8", "-n", "2", "--platform", "T7413", "--reject",
                     "bad-parameter", "--no-stdin"});
    EXPECT_EQ(dir + "/COM7", sim.ReadLine());
    EXPECT_EQ(dir + "/COM8", sim.ReadLine());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dir + "/COM8"));
    std::vector<uint8_t> id = port.Exchange(Hex("7C"), false);
    ASSERT_GE(id.size(), 17u);
    EXPECT_EQ("T7413", std::string(id.begin() + 12, id.begin() + 17));
    ASSERT_EQ(0, port.Write(test::Probe()));
    EXPECT_EQ("14 61 74 0D 1C D5 7D 5E 75 FD 7E 14 06 4E 95 7D 5E CC F6 7E", ToHex(port.ReadCount(20, 2000ms)));
    port.Close();
    sim.Signal(SIGTERM);
    EXPECT_EQ(0, sim.Wait());
    EXPECT_FALSE(PathExists(dir + "/COM7"));
    rmdir(dir.c_str());
}

bool WaitForLink(const std::string& path, bool present) {
    for (int i = 0; i < 500; ++i) {
        if (PathExists(path) == present) return true;
        usleep(10000);
    }
    return false;
}

// The device's identity place: the low byte of its MEID (item 1943).
int IdentityPlace(const std::string& path) {
    CHostPort port;
    const std::vector<uint8_t> meid = port.Open(path) == 0 ? test::ReadNvItem(port, 1943) : std::vector<uint8_t>{};
    return meid.empty() ? -1 : meid[0];
}

TEST(MsmSimProgram, RowsOfDevicesTakeEachSocketInTurn) {
    std::string dir = std::string(::testing::TempDir()) + "msm-sim-row-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir.data()));
    CSimProcess sim({"--dir", dir, "-n", "2", "--row", "2", "--appear-after-ms", "1000", "--leave-idle-ms", "200",
                     "--gap-ms", "500", "--row-knob", "2:id.esn=12345", "--no-stdin"});
    const std::string first = sim.ReadLine(), second = sim.ReadLine();
    EXPECT_EQ(dir + "/ttyMSM0", first);
    EXPECT_EQ(dir + "/ttyMSM1", second);
    EXPECT_FALSE(PathExists(second));
    ASSERT_TRUE(WaitForLink(second, true));
    EXPECT_EQ(1, IdentityPlace(second));
    // Taken out after the host closed it; the socket's next device is place
    // 1 + 1 * 2, with its own knob.
    ASSERT_TRUE(WaitForLink(second, false));
    ASSERT_TRUE(WaitForLink(second, true));
    EXPECT_EQ(3, IdentityPlace(second));
    CHostPort port;
    ASSERT_EQ(0, port.Open(second));
    std::vector<uint8_t> esn = test::ReadNvItem(port, 0);
    ASSERT_EQ(128u, esn.size());
    EXPECT_EQ(12345u, esn[0] | esn[1] << 8 | esn[2] << 16 | uint32_t(esn[3]) << 24);
    port.Close();
    // A device whose port the host never opened stays.
    EXPECT_TRUE(PathExists(first));
    EXPECT_EQ(0, IdentityPlace(first));
    sim.Signal(SIGTERM);
    EXPECT_EQ(0, sim.Wait());
    EXPECT_FALSE(PathExists(first));
    EXPECT_FALSE(PathExists(second));
    rmdir(dir.c_str());
}

TEST(MsmSimProgram, BadArgumentsAreRefusedWithStatus2) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--mode", "bogus"}, std::vector<std::string>{"-n", "0"},
          std::vector<std::string>{"-n", "2", "--name", "A"}, std::vector<std::string>{"--knob", "novalue"},
          std::vector<std::string>{"--row", "2", "--row-knob", "3:id.esn=1"},
          std::vector<std::string>{"--row-knob", "1:no.such=1"}, std::vector<std::string>{"--frobnicate"}}) {
        CSimProcess sim(args);
        EXPECT_EQ("", sim.ReadLine()) << args[0];
        EXPECT_EQ(2, sim.Wait()) << args[0];
    }
}

// Runs msm-sim to its end with stdin closed; its exit status and what it wrote
// on stdout and stderr.
std::pair<int, std::string> RunToEnd(const std::string& args) {
    FILE* pipe = popen((std::string(MSM_SIM_PROGRAM) + " " + args + " </dev/null 2>&1").c_str(), "r");
    std::string output;
    char chunk[4096];
    for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(MsmSimProgram, KnobsAreCheckedAgainstTheTable) {
    auto [status, output] = RunToEnd("--knob no.such=1");
    EXPECT_EQ(2, status);
    EXPECT_NE(std::string::npos, output.find("msm-sim: unknown knob no.such")) << output;
    std::tie(status, output) = RunToEnd("--knob fault.mode=3");
    EXPECT_EQ(2, status);
    EXPECT_NE(std::string::npos, output.find("msm-sim: knob fault.mode takes -1..2, not 3")) << output;

    std::tie(status, output) = RunToEnd("--list-knobs");
    EXPECT_EQ(0, status);
    std::istringstream lines(output);
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);) listed.push_back(line.substr(0, line.find(' ')));
    std::vector<std::string> registered;
    for (const KnobSpec& k : DeviceKnobs()) registered.push_back(k.name);
    EXPECT_EQ(registered, listed);
}

TEST(MsmSimProgram, LinkProfileReachesEveryDevice) {
    auto [status, output] = RunToEnd("--link usb-ls");
    EXPECT_EQ(2, status);
    EXPECT_NE(std::string::npos, output.find("msm-sim: --link takes none, usb-fs or usb-hs, not usb-ls")) << output;
    std::tie(status, output) = RunToEnd("--link usb-fs --list-knobs");
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, output.find("link.profile")) << output;

    CSimProcess sim({"-n", "2", "--mode", "download", "--link", "usb-fs"});
    for (int i = 0; i < 2; ++i) {
        const std::string path = sim.ReadLine();
        CHostPort port;
        ASSERT_EQ(0, port.Open(path)) << path;
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_EQ(Hex("02"), port.Exchange(Hex("06"), true)) << path;
        // A millisecond each way on a full-speed link.
        EXPECT_GE(std::chrono::steady_clock::now() - sent, 2ms) << path;
    }
}

}  // namespace
}  // namespace fennix::sim
