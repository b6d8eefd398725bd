#include "log/LogSink.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "log/LogFormat.h"
#include "platform/File.h"
#include "platform/LogSettings.h"
#include "platform/Time.h"

namespace fennix::logsink {

namespace {

// The whole file name must fit in this many bytes, its terminator included.
constexpr size_t kFileNameBytes = 100;
constexpr uint32_t kLoggingOff = 0xFFFFFFFFu;

const char kAsteriskLine[] = "*******************************************************************************";

struct State {
    std::shared_mutex lock;
    platform::File file;
    bool open = false;
    // Kept from one opening to the next: an absent setting leaves the value
    // last read.
    int32_t threshold = 1;
    uint32_t appendOption = 0;
};

State& TheState() {
    static State state;
    return state;
}

// Copies of `open` and `threshold` for the lock-free looks.
std::atomic<bool> gOpenHint{false};
std::atomic<int32_t> gThresholdHint{1};

void PublishHints(const State& s) {
    gThresholdHint.store(s.threshold, std::memory_order_relaxed);
    gOpenHint.store(s.open, std::memory_order_release);
}

bool AcceptsLevel(const State& s, int level) { return s.open && level <= s.threshold; }

void WriteAccepted(State& s, int level, const std::string& line) {
    if (!AcceptsLevel(s, level)) return;
    // A failed write or flush is ignored: there is nowhere to report it.
    s.file.Write(line.data(), line.size());
    if (level == 0 || level == 1) s.file.Flush();
}

// Banners go through the same level filter as any level-0 line.
void WriteBanner(State& s, const char* text) {
    WriteAccepted(s, 0, logformat::PlainLine(0, platform::NowLocal(), text));
}

void CloseLocked(State& s) {
    if (!s.open) return;
    WriteBanner(s, "*...End....");
    WriteBanner(s, kAsteriskLine);
    s.file.Close();
    s.open = false;
    PublishHints(s);
}

}  // namespace

bool MayBeOpen() { return gOpenHint.load(std::memory_order_acquire); }

bool MayAccept(int level) { return MayBeOpen() && level <= gThresholdHint.load(std::memory_order_relaxed); }

Writer::Writer() : lock_(TheState().lock) {}

bool Writer::IsOpen() const { return TheState().open; }

bool Writer::Accepts(int level) const { return AcceptsLevel(TheState(), level); }

void Writer::WriteLine(int level, const std::string& line) { WriteAccepted(TheState(), level, line); }

void Open() {
    State& s = TheState();
    std::unique_lock<std::shared_mutex> lock(s.lock);
    // Opening again while open: finish the earlier file properly rather than
    // leaving its handle behind.
    CloseLocked(s);

    const platform::LogSettings settings = platform::ReadLogSettings();
    if (!settings.present) return;
    if (settings.level) s.threshold = static_cast<int32_t>(*settings.level);
    if (static_cast<uint32_t>(s.threshold) == kLoggingOff) return;
    if (settings.appendOption) s.appendOption = *settings.appendOption;
    const std::string prefix = settings.app.value_or(std::string());

    const platform::LocalTime today = platform::NowLocal();
    char name[kFileNameBytes];
    int needed =
        std::snprintf(name, sizeof name, "%s%04d%02d%02d.log", prefix.c_str(), today.year, today.month, today.day);
    // A cut name would be some other file: stay closed instead.
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof name) return;

    const bool append = s.appendOption != 0;
    int error =
        s.file.Open(name, append ? platform::OpenMode::ReadWriteOpenOrCreate : platform::OpenMode::ReadWriteTruncate,
                    append ? platform::Share::Read : platform::Share::ReadWrite);
    if (error != 0) return;
    s.file.Seek(0, platform::Whence::End);
    s.open = true;
    PublishHints(s);
    WriteBanner(s, kAsteriskLine);
    WriteBanner(s, "*... Start ...");
}

void Close() {
    State& s = TheState();
    std::unique_lock<std::shared_mutex> lock(s.lock);
    CloseLocked(s);
}

}  // namespace fennix::logsink
