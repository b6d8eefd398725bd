// File names of the NV commands that differ per port: a template with
// {imei}, {esn}, {meid} (the device's), {port} (the port's base name) and
// {date} (YYYYMMDD, the run's local date), resolved per port.
#pragma once

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
};

class FileTemplate {
public:
    // False with `error` set for a placeholder the tool does not know; a
    // brace that opens no known name is an error too, so that a mistyped
    // placeholder never becomes part of a file name.
    static bool Parse(const std::string& text, FileTemplate* result, std::string* error);
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

// The local date as {date} writes it ("20261210").
std::string LocalDateText();

// One key per file, whatever the path's spelling ("out/../out/a.brt", a
// relative path and its absolute one), for finding two ports that would write one file.
std::string FileKey(const std::string& path);

// The files the ports of one run write, claimed while they run: a file
// already claimed by another port is not the next port's to write.
class ClaimedFiles {
public:
    // Empty when the file is now `port`'s (or already was), else the port that holds it.
    std::string Claim(const std::string& path, const std::string& port);
    std::vector<std::string> Paths() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<std::string, std::string>> claims_;  // key → path, port
};

}  // namespace fennix::cli
