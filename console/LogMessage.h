// CLogMessage: the last twenty progress lines of one slot, each stamped with
// the UTC minute, second and millisecond. Lines reach the slot's log list
// through a synchronous request to the list and, for slot 1, the file
// "DownloadOne.txt".
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

namespace tarnwell {

inline constexpr const char* kSlotOneLogFile = "DownloadOne.txt";

// Minute, second and millisecond of the UTC clock.
struct StampTime {
    int minute;
    int second;
    int millisecond;
};
StampTime UtcStampNow();

class CLogMessage {
public:
    struct T_LOG_ENTRY {
        char text[512];
    };
    static constexpr int kEntryCount = 20;

    // Hands entry `entryIndex` to the list window and returns once the list
    // has shown it.
    using AddLineSender = void (*)(void* listWindow, int entryIndex);
    using Clock = StampTime (*)();

    CLogMessage();
    ~CLogMessage();
    CLogMessage(const CLogMessage&) = delete;
    CLogMessage& operator=(const CLogMessage&) = delete;

    void AttachList(void* listWindow, AddLineSender sender);
    // Stops all further requests to the list (its window is going away).
    void DetachList();
    void* ListWindow() const { return m_listWindow.load(); }

    // Creates the file anew. Returns 0, or the C library's error number when
    // it cannot be created. Does nothing when the file is already open.
    int OpenLogFile(const char* path);
    bool IsLogFileOpen() const { return m_logFile != nullptr; }
    // Empties the open file so the next line is written at its start.
    void EmptyLogFile();
    void CloseLogFile();

    // Stamps `text` into the next entry of the ring, writes it to the file and
    // to the list, and moves on. A null text is ignored.
    void AddLine(const char* text);

    const T_LOG_ENTRY& Entry(int index) const { return m_entries[index]; }
    int NextEntryIndex() const { return m_nextEntryIndex; }

    // Replaces the UTC clock (tests).
    void SetClock(Clock clock) { m_clock = clock; }

private:
    std::atomic<void*> m_listWindow;
    FILE* m_logFile;
    int m_nextEntryIndex;
    T_LOG_ENTRY m_entries[kEntryCount];
    StampTime m_time;

    std::atomic<AddLineSender> m_sender;
    std::string m_logPath;
    Clock m_clock;
};

// "[mm:ss:mmmm] text", cut to 511 characters and NUL-terminated.
void FormatLogEntry(char (&entry)[512], const StampTime& time, const char* text);

}  // namespace tarnwell
