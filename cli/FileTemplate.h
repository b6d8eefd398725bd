// File names of the NV commands that differ per port: a template with
// {imei}, {esn}, {meid} (the device's), {port} (the port's base name),
// {date} (YYYYMMDD, the run's local date) and, where the caller allows it,
// {time} (HHMMSS, local), resolved per port.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceIdentity.h"

namespace fennix::cli {

struct TemplateValues {
    std::string port;  // the port as given; the template takes its base name
    std::string date;
    const DeviceIdentity* device = nullptr;  // null before the device was read
    std::string time;
};

class FileTemplate {
public:
    // False with `error` set for a placeholder the tool does not know; a
    // brace that opens no known name is an error too, so that a mistyped
    // placeholder never becomes part of a file name.
    // `withTime`: {time} is one of the placeholders.
    static bool Parse(const std::string& text, FileTemplate* result, std::string* error, bool withTime = false);
    // A file name taken as it is, braces and all.
    static FileTemplate Literal(const std::string& path);

    const std::string& Text() const { return text_; }
    // Holds {imei}, {esn} or {meid}: resolvable only after the device was read.
    bool NamesDevice() const;
    // The path; empty with `unfilled` set to the first placeholder ("imei")
    // that has no value (the device gave none, or was not read yet).
    std::string Resolve(const TemplateValues& values, std::string* unfilled) const;

private:
    struct Part {
        bool placeholder = false;
        std::string text;  // the literal text, or the placeholder's name
    };
    std::string text_;
    std::vector<Part> parts_;
};

// The local date as {date} writes it ("20261210"), of now or of `t`.
std::string LocalDateText();
std::string LocalDateText(std::chrono::system_clock::time_point t);
// The local time of day as {time} writes it ("071502").
std::string LocalTimeText(std::chrono::system_clock::time_point t);

// One key per file, whatever the path's spelling ("out/../out/a.brt", a
// relative path and its absolute one), for finding two ports that would write one file.
std::string FileKey(const std::string& path);

// The files the ports of one run write, claimed while they run: a file
// already claimed by another port is not the next port's to write.
class ClaimedFiles {
public:
    // Empty when the file is now `port`'s (or already was), else the port that holds it.
    std::string Claim(const std::string& path, const std::string& port);
    // Claims `path` or, where another port holds it (or, with `fresh`, a file
    // of that name exists), the first free of "name-2.ext", "name-3.ext", ...;
    // returns the name claimed.
    std::string ClaimFree(const std::string& path, const std::string& port, bool fresh);
    // Gives a file of `port` back, for the next run to take.
    void Release(const std::string& path, const std::string& port);
    std::vector<std::string> Paths() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<std::string, std::string>> claims_;  // key → path, port
};

}  // namespace fennix::cli
