// Runs the fennix program as a child process with its output in files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace fennix::clitest {

class ToolProcess {
public:
    // Starts `fennix args...` with FENNIX_TIME_SCALE=0.2; output into `dir`.
    ToolProcess(const std::vector<std::string>& args, const std::string& dir);
    // Waits for the end; the exit status (128 + signal when killed).
    int Wait();
    void Signal(int signal);
    pid_t Pid() const { return pid_; }
    std::string Out() const;
    std::string Err() const;
    // Waits until standard output holds `text`; false at the time limit.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const;

private:
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
    int status_ = -1;
};

// Runs to the end.
struct ToolResult {
    int status;
    std::string out, err;
};
ToolResult RunTool(const std::vector<std::string>& args, const std::string& dir);

std::vector<std::string> Lines(const std::string& text);
std::string ReadText(const std::string& path);
// Lower-case hex digest by sha256sum (not the tool's own code); empty when it fails.
std::string Sha256Sum(const std::string& path);

// An empty folder of the test's own below TEST_TMPDIR (else /tmp), emptied first.
std::string FreshTestDir(const std::string& name);
// The same, named by `prefix` and the running test's name.
std::string FreshTestDirOfThisTest(const std::string& prefix);

}  // namespace fennix::clitest
