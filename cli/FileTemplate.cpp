#include "FileTemplate.h"

#include <cctype>
#include <ctime>
#include <filesystem>

#include "AsciiCase.h"
#include "LiveLine.h"

namespace fennix::cli {

namespace {
const char* const kNames[] = {"imei", "esn", "meid", "port", "date"};

bool Known(const std::string& name, bool withTime) {
    if (withTime && name == "time") return true;
    for (const char* known : kNames)
        if (name == known) return true;
    return false;
}

std::string LocalText(std::chrono::system_clock::time_point t, const char* format) {
    const std::time_t at = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &at);
#else
    localtime_r(&at, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, format, &local);
    return text;
}
}  // namespace

bool FileTemplate::Parse(const std::string& text, FileTemplate* result, std::string* error, bool withTime) {
    FileTemplate t;
    t.text_ = text;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('{', at);
        if (open == std::string::npos) {
            t.parts_.push_back({false, text.substr(at)});
            break;
        }
        if (open > at) t.parts_.push_back({false, text.substr(at, open - at)});
        const size_t close = text.find('}', open);
        const std::string name = close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
        if (!Known(name, withTime)) {
            *error = text + " holds " + text.substr(open, close == std::string::npos ? 1 : close - open + 1) +
                     ", which is no placeholder ({imei}, {esn}, {meid}, {port}, {date}" +
                     (withTime ? ", {time})" : ")");
            return false;
        }
        t.parts_.push_back({true, name});
        at = close + 1;
    }
    *result = std::move(t);
    return true;
}

FileTemplate FileTemplate::Literal(const std::string& path) {
    FileTemplate t;
    t.text_ = path;
    t.parts_.push_back({false, path});
    return t;
}

bool FileTemplate::NamesDevice() const {
    for (const auto& part : parts_)
        if (part.placeholder && part.text != "port" && part.text != "date" && part.text != "time") return true;
    return false;
}

std::string FileTemplate::Resolve(const TemplateValues& values, std::string* unfilled) const {
    std::string path;
    for (const auto& part : parts_) {
        if (!part.placeholder) {
            path += part.text;
            continue;
        }
        std::string value;
        if (part.text == "port")
            value = PortBaseName(values.port);
        else if (part.text == "date")
            value = values.date;
        else if (part.text == "time")
            value = values.time;
        else if (values.device)
            value = part.text == "imei"  ? values.device->imei
                    : part.text == "esn" ? values.device->esn
                                         : values.device->meid;
        if (value.empty()) {
            *unfilled = part.text;
            return {};
        }
        path += value;
    }
    return path;
}

std::string LocalDateText() { return LocalDateText(std::chrono::system_clock::now()); }

std::string LocalDateText(std::chrono::system_clock::time_point t) { return LocalText(t, "%Y%m%d"); }

std::string LocalTimeText(std::chrono::system_clock::time_point t) { return LocalText(t, "%H%M%S"); }

std::string FileKey(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    std::string key = (error ? absolute.lexically_normal() : canonical).string();
#ifdef _WIN32
    // Windows file names are case-blind.
    key = AsciiLower(key);
#endif
    return key;
}

std::string ClaimedFiles::Claim(const std::string& path, const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto [claim, added] = claims_.emplace(FileKey(path), std::make_pair(path, port));
    return added || claim->second.second == port ? std::string() : claim->second.second;
}

std::string ClaimedFiles::ClaimFree(const std::string& path, const std::string& port, bool fresh) {
    const std::filesystem::path whole(path);
    const std::string stem = (whole.parent_path() / whole.stem()).string(), extension = whole.extension().string();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? path : stem + "-" + std::to_string(n) + extension;
        std::error_code error;
        if (fresh && std::filesystem::exists(name, error)) continue;
        const auto [claim, added] = claims_.emplace(FileKey(name), std::make_pair(name, port));
        if (added || claim->second.second == port) return name;
    }
}

void ClaimedFiles::Release(const std::string& path, const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto claim = claims_.find(FileKey(path));
    if (claim != claims_.end() && claim->second.second == port) claims_.erase(claim);
}

std::vector<std::string> ClaimedFiles::Paths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& [key, claim] : claims_) paths.push_back(claim.first);
    return paths;
}

}  // namespace fennix::cli
