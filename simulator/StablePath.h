// The device's port name in the file system: a symbolic link that points at
// the current pseudo-terminal, removed while the port has vanished and
// re-pointed when it comes back. Names are claimed per process so that two
// devices never share one, even while one of them has vanished.
#pragma once

#include <string>

namespace fennix::sim {

class CStablePath {
public:
    CStablePath() = default;
    ~CStablePath() { Release(); }
    CStablePath(const CStablePath&) = delete;
    CStablePath& operator=(const CStablePath&) = delete;

    // Claims <directory>/<name>. An empty directory makes a private temporary
    // directory (removed again by Release); an empty name takes the first free
    // "ttyMSM<n>". 0 or an errno (EEXIST when the name is taken, or a file that
    // is not a symbolic link sits there).
    int Claim(const std::string& directory, const std::string& name);
    // Atomically (re)points the link at the target. 0 or an errno.
    int Point(const std::string& target);
    // Removes the link; the name stays claimed.
    void Remove();
    // Removes the link, gives the name back and removes a private directory.
    void Release();

    const std::string& Path() const { return path_; }

    // Whether a name can be taken: nothing is there, or a symbolic link left
    // behind by an earlier run whose pseudo-terminal is gone.
    static bool Usable(const std::string& path);

private:
    std::string path_;
    std::string privateDirectory_;
};

}  // namespace fennix::sim
