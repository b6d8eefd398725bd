// What the tool needs from the operating system, one implementation per
// system (posix/, win32/).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace fennix::cli {

// Standard output is a terminal that understands cursor movement and colour.
bool StdoutIsTerminal();
// Columns of the terminal on standard output (80 when unknown).
int TerminalWidth();

// Ctrl-C (SIGINT, a console control event) counts up `presses`; the press
// after `handled` more ends the process at once with status 130 (the tool
// handles the first press, and the second one where it ends a run itself).
void InstallInterruptHandler(std::atomic<int>* presses, int handled = 1);

// Appends `text` to the file in one write, holding an exclusive advisory lock
// on it (flock, LockFileEx) that every run appending to the file takes, so
// that runs appending at once never split or glue records. A newline goes
// first when the file does not end with one (a run killed halfway). `pause`
// is spent holding the lock before the write. Empty when appended, else why
// not.
std::string AppendLocked(const std::string& path, const std::string& text, std::chrono::milliseconds pause);

unsigned long ProcessId();

// The file of the loaded Fennix library, for the record of a run.
std::string LibraryFile();
// The loaded library's version ("1.0.0"): from its file name on Linux
// (libFennix.so.1.0.0), from its version resource on Windows; empty when
// neither tells.
std::string LibraryVersion();

struct SerialPortEntry {
    std::string name;    // as the engine takes it: /dev/ttyUSB0, COM5
    std::string driver;  // the kernel driver or device name, when known
};
// Every serial port present on the system.
std::vector<SerialPortEntry> AllSerialPorts();
// The port's name that stays with the physical socket (Linux:
// /dev/serial/by-path/...); empty when there is none.
std::string StableName(const std::string& port);

// Why the engine cannot have the port, found before it tries: another
// program holds the port's lock ("held by ModemManager (pid 812)"), or this
// user may not open it (with the group that gives access). Empty when
// nothing stands in the way. `cause` gets the engine's name for it:
// "port-busy" or "port-forbidden".
std::string PortObstacle(const std::string& port, std::string* cause = nullptr);
// The other programs that have the port open, for a port that would not
// open ("minicom (pid 912)"); empty when none is known.
std::string PortUsers(const std::string& port);

// Maps --log-level and --log-dir onto the library's settings; returns a note
// for the user when they live elsewhere (empty when applied).
std::string ApplyLogSettings(int level, const std::string& directory);

}  // namespace fennix::cli
