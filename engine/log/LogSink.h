// The one log file of the process and its settings. Writers hold a shared lock
// for the length of their call: they never wait for each other (each line still
// goes out in one write), but opening and closing the file wait until no writer
// is using it.
#pragma once

#include <cstddef>
#include <shared_mutex>
#include <string>

namespace fennix::logsink {

// Access for one writer call.
class Writer {
public:
    Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool IsOpen() const;
    // Open and `level` within the threshold.
    bool Accepts(int level) const;
    // Writes a finished line at `level` if accepted; flushes levels 0 and 1.
    void WriteLine(int level, const std::string& line);

private:
    std::shared_lock<std::shared_mutex> lock_;
};

// Lock-free first looks for writers, so that a closed or filtering log costs
// the hot paths (one call per byte block on a fast link) next to nothing. A
// writer that passes still decides under the lock; one racing StartLog or
// EndLog may miss or make its line, as it could with the lock.
bool MayBeOpen();
bool MayAccept(int level);

// Bodies of StartLog and EndLog.
void Open();
void Close();

}  // namespace fennix::logsink
