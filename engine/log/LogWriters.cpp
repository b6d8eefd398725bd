// The writers used by the whole library. Each builds its line in its own
// buffers and hands it to the file in one write.
#include <cstdarg>
#include <string>

#include "log/Log.h"
#include "log/LogFormat.h"
#include "log/LogSink.h"
#include "platform/SystemError.h"
#include "platform/Time.h"

namespace fennix {

namespace {

using logformat::OrEmpty;

void WritePlain(logsink::Writer& sink, int level, const std::string& message) {
    sink.WriteLine(level, logformat::PlainLine(level, platform::NowLocal(), message.c_str()));
}

// printf-style message into a std::string without going through a va_list
// twice at the call site.
std::string Message(size_t limit, const char* format, ...) FENNIX_PRINTF(2, 3);
std::string Message(size_t limit, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = logformat::FormatMessageText(limit, format, args);
    va_end(args);
    return text;
}

size_t ClipDump(size_t count) { return count < logformat::kHexDumpLimit ? count : logformat::kHexDumpLimit; }

}  // namespace

void OpenLog() { logsink::Open(); }

void CloseLog() { logsink::Close(); }

int LogLine(int level, const char* format, ...) {
    if (!logsink::MayAccept(level)) return 0;
    logsink::Writer sink;
    if (!sink.Accepts(level)) return 0;
    va_list args;
    va_start(args, format);
    std::string message = logformat::FormatMessageText(logformat::kPlainMessageLimit, format, args);
    va_end(args);
    WritePlain(sink, level, message);
    return 1;
}

int LogFuncLine(int level, const char* function, const char* format, ...) {
    if (!logsink::MayAccept(level)) return 0;
    logsink::Writer sink;
    if (!sink.Accepts(level)) return 0;
    va_list args;
    va_start(args, format);
    std::string message = logformat::FormatMessageText(logformat::kFieldMessageLimit, format, args);
    va_end(args);
    sink.WriteLine(level, logformat::FunctionLine(level, platform::NowLocal(), function, message.c_str()));
    return 1;
}

int LogPortLine(int level, const char* port, const char* function, const char* format, ...) {
    if (!logsink::MayAccept(level)) return 0;
    logsink::Writer sink;
    if (!sink.Accepts(level)) return 0;
    va_list args;
    va_start(args, format);
    std::string message = logformat::FormatMessageText(logformat::kFieldMessageLimit, format, args);
    va_end(args);
    sink.WriteLine(level, logformat::PortLine(level, platform::NowLocal(), port, function, message.c_str()));
    return 1;
}

int LogSystemError(const char* port, const char* function, int error) {
    if (!logsink::MayBeOpen()) return 0;
    if (!logsink::MayAccept(kLogError)) return 1;
    logsink::Writer sink;
    if (!sink.IsOpen()) return 0;
    if (!sink.Accepts(kLogError)) return 1;
    const std::string text = platform::SystemErrorText(error);
    if (text.empty()) return 1;
    WritePlain(sink, kLogError,
               Message(logformat::kPlainMessageLimit, "%s\t%s\tThe system error number [%d] --> %s", OrEmpty(port),
                       OrEmpty(function), error, text.c_str()));
    return 1;
}

int LogHexDump(int level, const void* bytes, size_t count) {
    if (!logsink::MayAccept(level)) return 0;
    logsink::Writer sink;
    if (!sink.Accepts(level)) return 0;
    const size_t shown = ClipDump(count);
    WritePlain(sink, level,
               Message(logformat::kPlainMessageLimit, "The %d bytes buffer content is: %s", static_cast<int>(shown),
                       logformat::HexDigits(bytes, shown).c_str()));
    return 1;
}

int LogPortHexDump(int level, const char* port, const char* function, const void* bytes, size_t count) {
    if (!logsink::MayBeOpen()) return 0;
    if (!logsink::MayAccept(level)) return 1;
    logsink::Writer sink;
    if (!sink.IsOpen()) return 0;
    // Filtered out by the level, the dump still counts as written; skip the
    // work of building a line nobody will see.
    if (!sink.Accepts(level)) return 1;
    const size_t shown = ClipDump(count);
    WritePlain(sink, level,
               Message(logformat::kPlainMessageLimit, "%s\t%s\tThe %d bytes buffer content is: %s", OrEmpty(port),
                       OrEmpty(function), static_cast<int>(shown), logformat::HexDigits(bytes, shown).c_str()));
    return 1;
}

}  // namespace fennix
