#include "StablePath.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fennix::sim {
namespace {

std::mutex& ClaimedMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& ClaimedPaths() {
    static std::set<std::string> paths;
    return paths;
}

}  // namespace

bool CStablePath::Usable(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return false;
    struct stat target {};
    return stat(path.c_str(), &target) != 0;  // dangling: left over
}

int CStablePath::Claim(const std::string& directory, const std::string& name) {
    Release();
    std::string dir = directory;
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fennix-sim-XXXXXX";
        if (!mkdtemp(pattern.data())) return errno;
        dir = privateDirectory_ = pattern;
    }
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();

    std::lock_guard<std::mutex> lock(ClaimedMutex());
    auto& claimed = ClaimedPaths();
    if (!name.empty()) {
        std::string path = dir + "/" + name;
        if (claimed.count(path) || !Usable(path)) {
            if (!privateDirectory_.empty()) rmdir(privateDirectory_.c_str());
            privateDirectory_.clear();
            return EEXIST;
        }
        claimed.insert(path_ = path);
        return 0;
    }
    for (int n = 0; n < 10000; ++n) {
        std::string path = dir + "/ttyMSM" + std::to_string(n);
        if (claimed.count(path) || !Usable(path)) continue;
        claimed.insert(path_ = path);
        return 0;
    }
    return EEXIST;
}

int CStablePath::Point(const std::string& target) {
    if (path_.empty()) return EINVAL;
    // Link under a temporary name, then rename over the old link: the name
    // never points nowhere while it is being re-pointed.
    std::string temporary = path_ + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) return errno;
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return error;
    }
    return 0;
}

void CStablePath::Remove() {
    if (!path_.empty()) unlink(path_.c_str());
}

void CStablePath::Release() {
    if (!path_.empty()) {
        Remove();
        std::lock_guard<std::mutex> lock(ClaimedMutex());
        ClaimedPaths().erase(path_);
        path_.clear();
    }
    if (!privateDirectory_.empty()) {
        rmdir(privateDirectory_.c_str());
        privateDirectory_.clear();
    }
}

}  // namespace fennix::sim
