#include "PortWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fennix::station {

namespace fs = std::filesystem;

namespace {
// Changes of a folder's entries; a link re-pointed by rename arrives as a move.
constexpr uint32_t kMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string Parent(const std::string& path) {
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? std::string(".") : parent;
}
}  // namespace

PortWatcher::~PortWatcher() { Stop(); }

bool PortWatcher::Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;  // follows the link: a link to a gone tty is gone
}

void PortWatcher::WatchPath(const std::string& path) { paths_.emplace(path, false); }

void PortWatcher::WatchFolder(const std::string& folder, EntryHandler onEntry) {
    folders_.emplace_back(folder, std::move(onEntry));
}

std::string PortWatcher::Start() {
    inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify_ < 0) return std::string("inotify: ") + std::strerror(errno);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return std::string("eventfd: ") + std::strerror(errno);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Rescan();
    }
    thread_ = std::thread([this] { Loop(); });
    return {};
}

void PortWatcher::Stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (::write(wake_, &one, sizeof one) < 0) {
        }
        thread_.join();
    }
    if (inotify_ >= 0) ::close(inotify_);
    if (wake_ >= 0) ::close(wake_);
    inotify_ = wake_ = -1;
}

void PortWatcher::AddPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (paths_.count(path)) return;
    paths_.emplace(path, false);
    Rescan();
}

bool PortWatcher::Present(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = paths_.find(path);
    return it != paths_.end() && it->second;
}

bool PortWatcher::WaitFor(const std::string& path, bool present, Clock::time_point deadline,
                          const std::atomic<bool>& abandon) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t removals = removals_[path];
    auto gone = [&] { return !paths_[path] || removals_[path] != removals; };
    auto done = [&] { return (present ? paths_[path] : gone()) || abandon.load(); };
    if (deadline == Clock::time_point::max())
        changed_.wait(lock, done);
    else
        changed_.wait_until(lock, deadline, done);
    return present ? paths_[path] : !gone();
}

void PortWatcher::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

void PortWatcher::AddWatch(const std::string& folder) {
    if (inotify_ < 0) return;
    // A folder that does not exist yet (/dev/serial/by-path before the first
    // USB serial device) is watched through the nearest parent that does.
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        if (const int watch = inotify_add_watch(inotify_, at.c_str(), kMask); watch >= 0) {
            watches_[watch] = at.string();
            return;
        }
        if (errno != ENOENT && errno != ENOTDIR) return;
        if (at == at.root_path()) return;
    }
}

void PortWatcher::ArmWatches() {
    std::set<std::string> folders;
    for (const auto& [path, present] : paths_) {
        folders.insert(Parent(path));
        // The tty a link points at can go while the link stays.
        std::error_code error;
        if (present)
            if (const fs::path target = fs::canonical(path, error); !error)
                folders.insert(target.parent_path().string());
    }
    for (const auto& [folder, handler] : folders_) folders.insert(folder);
    // Re-adding a watch is cheap and rearms one the kernel dropped with its folder.
    for (const auto& folder : folders) AddWatch(folder);
}

void PortWatcher::Rescan() {
    // Watches first, then the look: a change between the two is told by an
    // event. Twice, as a link found present brings its target's folder in.
    for (int pass = 0; pass < 2; ++pass) {
        ArmWatches();
        for (auto& [path, present] : paths_) {
            const bool now = Exists(path);
            if (present && !now) ++removals_[path];
            present = now;
        }
    }
    changed_.notify_all();
}

// A link removed and made again before the look after the events (a device
// swapped at once, a quick restart) still went away.
void PortWatcher::CountRemovals(const char* events, ssize_t size) {
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (!(event->mask & (IN_DELETE | IN_MOVED_FROM)) || event->len == 0) continue;
        const auto folder = watches_.find(event->wd);
        if (folder == watches_.end()) continue;
        const std::string path = (fs::path(folder->second) / event->name).string();
        if (const auto it = paths_.find(path); it != paths_.end() && it->second) ++removals_[path];
    }
}

void PortWatcher::Loop() {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
        // The folders' entries present before the first event.
        std::vector<std::pair<std::string, EntryHandler*>> entries;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [folder, handler] : folders_) {
                std::error_code error;
                for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
                    if (seenEntries_.insert(it->path().string()).second)
                        entries.emplace_back(it->path().string(), &handler);
            }
        }
        for (auto& [path, handler] : entries) (*handler)(path);
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        std::lock_guard<std::mutex> lock(mutex_);
        for (ssize_t size; (size = ::read(inotify_, buffer.data(), buffer.size())) > 0;)
            CountRemovals(buffer.data(), size);
        Rescan();
    }
}

}  // namespace fennix::station
