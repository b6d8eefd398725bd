#include "ToolProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fennix::clitest {

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::string& dir)
    : outPath_(dir + "/stdout.txt"), errPath_(dir + "/stderr.txt") {
    // Everything the child needs is made before the fork: the devices' threads
    // may hold the allocator's lock at that moment.
    std::vector<std::string> all{FENNIX_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // A fifth of the real timing: quick, and a stream write still waits 100 ms
    // for its answer on a loaded machine.
    std::vector<std::string> environment{"FENNIX_TIME_SCALE=0.2"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("FENNIX_TIME_SCALE=", 0) != 0) environment.push_back(*e);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

int ToolProcess::Wait() {
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    return status_;
}

void ToolProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

std::string ToolProcess::Out() const { return ReadText(outPath_); }
std::string ToolProcess::Err() const { return ReadText(errPath_); }

bool ToolProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (Out().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

ToolResult RunTool(const std::vector<std::string>& args, const std::string& dir) {
    ToolProcess tool(args, dir);
    const int status = tool.Wait();
    return {status, tool.Out(), tool.Err()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Sha256Sum(const std::string& path) {
    std::string digest(64, '\0');
    std::FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
    if (!pipe || std::fread(digest.data(), 1, 64, pipe) != 64) digest.clear();
    if (pipe) pclose(pipe);
    return digest;
}

std::string FreshTestDir(const std::string& name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const std::filesystem::path dir = std::filesystem::path(tmp ? tmp : "/tmp") / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string FreshTestDirOfThisTest(const std::string& prefix) {
    return FreshTestDir(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace fennix::clitest
