// Watches the port links a station serves: whether each is present (the link
// and the tty it points at both exist), told within moments of a change by
// inotify on the folders that hold them, without polling. One thread reads
// the events; the socket loops wait on it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fennix::station {

class PortWatcher {
public:
    using Clock = std::chrono::steady_clock;
    // Called on the watcher's thread with each entry that appears in a
    // watched folder (and with those present when the folder is first watched).
    using EntryHandler = std::function<void(const std::string& path)>;

    PortWatcher() = default;
    ~PortWatcher();
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Before Start.
    void WatchPath(const std::string& path);
    void WatchFolder(const std::string& folder, EntryHandler onEntry);
    // Empty when it runs, else why it cannot.
    std::string Start();
    void Stop();

    // Adds a path while running (an entry of a watched folder becoming a socket).
    void AddPath(const std::string& path);
    bool Present(const std::string& path);
    // Waits until the path's presence is `present`, the deadline passes or
    // `abandon` is set (see Wake); the presence it then has. Waiting for
    // `present` false, a link removed and made again in the meantime counts
    // as gone (false), however quick the two.
    bool WaitFor(const std::string& path, bool present, Clock::time_point deadline, const std::atomic<bool>& abandon);
    // Wakes every waiter to look at its `abandon` flag.
    void Wake();

    static bool Exists(const std::string& path);

private:
    void Loop();
    void Rescan();                                         // under mutex_
    void CountRemovals(const char* events, ssize_t size);  // under mutex_
    void ArmWatches();                                     // under mutex_
    void AddWatch(const std::string& folder);              // the folder, else its nearest existing parent

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, bool> paths_;         // path → present
    std::map<std::string, uint64_t> removals_;  // path → times its link was removed or went
    std::map<int, std::string> watches_;        // watch descriptor → the folder it watches
    std::vector<std::pair<std::string, EntryHandler>> folders_;
    std::set<std::string> seenEntries_;
    int inotify_ = -1;
    int wake_ = -1;  // eventfd that ends the thread
    std::thread thread_;
};

}  // namespace fennix::station
