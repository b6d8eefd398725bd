#include "console/LogMessage.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarnwell {

StampTime UtcStampNow() {
    using namespace std::chrono;
    // The system clock counts UTC; minute, second and millisecond need no
    // calendar, only the remainders.
    const long long ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const long long seconds = ms / 1000;
    return StampTime{static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60),
                     static_cast<int>(ms % 1000)};
}

void FormatLogEntry(char (&entry)[512], const StampTime& time, const char* text) {
    std::snprintf(entry, sizeof entry, "[%02d:%02d:%04d] %s", time.minute, time.second, time.millisecond, text);
}

CLogMessage::CLogMessage()
    : m_listWindow(nullptr),
      m_logFile(nullptr),
      m_nextEntryIndex(0),
      m_entries{},
      m_time{},
      m_sender(nullptr),
      m_clock(&UtcStampNow) {}

CLogMessage::~CLogMessage() { CloseLogFile(); }

void CLogMessage::AttachList(void* listWindow, AddLineSender sender) {
    m_sender.store(sender);
    m_listWindow.store(listWindow);
}

void CLogMessage::DetachList() { m_listWindow.store(nullptr); }

int CLogMessage::OpenLogFile(const char* path) {
    if (m_logFile != nullptr) return 0;
    errno = 0;
    m_logFile = std::fopen(path, "w");
    if (m_logFile == nullptr) return errno != 0 ? errno : EIO;
    m_logPath = path;
    return 0;
}

void CLogMessage::EmptyLogFile() {
    if (m_logFile == nullptr) return;
    std::fclose(m_logFile);
    m_logFile = std::fopen(m_logPath.c_str(), "w");
}

void CLogMessage::CloseLogFile() {
    if (m_logFile == nullptr) return;
    std::fclose(m_logFile);
    m_logFile = nullptr;
}

void CLogMessage::AddLine(const char* text) {
    if (text == nullptr) return;
    const int index = m_nextEntryIndex;
    T_LOG_ENTRY& entry = m_entries[index];
    m_time = m_clock();
    FormatLogEntry(entry.text, m_time, text);
    if (m_logFile != nullptr) {
        std::fputs(entry.text, m_logFile);
        std::fputc('\n', m_logFile);
        // Each line reaches the disk at once, so the file can be read while
        // the slot runs and nothing is lost if the program is ended.
        std::fflush(m_logFile);
    }
    void* list = m_listWindow.load();
    AddLineSender sender = m_sender.load();
    if (list != nullptr && sender != nullptr) sender(list, index);
    m_nextEntryIndex = (index + 1) % kEntryCount;
}

}  // namespace tarnwell
