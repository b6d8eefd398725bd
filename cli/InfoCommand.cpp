// fennix info: who the device on each port is, read on every port at once.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "PortRun.h"

namespace fennix::cli {

namespace {

struct InfoOptions {
    bool json = false;
    std::vector<std::string> ports;
};

// A text field of the structure, read no further than its array even when the
// library left it unterminated.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Joined(const std::string& date, const std::string& time) {
    std::string both = date + " " + time;
    const size_t first = both.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return both.substr(first, both.find_last_not_of(' ') - first + 1);
}

const char* ModeName(int32_t mode) {
    switch (mode) {
        case FENNIX_MODE_AT: return "at";
        case FENNIX_MODE_DIAG: return "diag";
        case FENNIX_MODE_DOWNLOAD: return "download";
        default: return nullptr;
    }
}

struct PortInfo {
    FennixDeviceInfo device{};
    bool read = false;
    std::string error;
};

// Every field in the order the JSON gives them; a null is a value not given.
nlohmann::ordered_json Describe(const std::string& port, const PortInfo& p) {
    const FennixDeviceInfo& d = p.device;
    auto text = [](const std::string& value) {
        return value.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
    };
    const std::string imei = p.read ? Field(d.imei) : std::string();
    const char* mode = p.read ? ModeName(d.mode) : nullptr;
    nlohmann::ordered_json j;
    j["port"] = port;
    j["esn"] = text(p.read ? Upper(Field(d.esn)) : "");
    j["meid"] = text(p.read ? Upper(Field(d.meid)) : "");
    j["imei"] = text(imei);
    j["imei_valid"] = imei.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(d.imeiValid == 1);
    j["compiled"] = text(p.read ? Joined(Field(d.compileDate), Field(d.compileTime)) : "");
    j["released"] = text(p.read ? Joined(Field(d.releaseDate), Field(d.releaseTime)) : "");
    j["version_dir"] = text(p.read ? Field(d.versionDir) : "");
    j["build_id"] = text(p.read ? Field(d.buildId) : "");
    j["device_model"] = text(p.read ? Field(d.model) : "");
    j["mode"] = mode ? nlohmann::ordered_json(mode) : nlohmann::ordered_json();
    j["group"] = p.read && d.group >= 0 ? nlohmann::ordered_json(d.group) : nlohmann::ordered_json();
    if (!p.read) j["error"] = p.error;
    return j;
}

void PrintBlock(const nlohmann::ordered_json& j) {
    static const std::pair<const char*, const char*> kLabels[] = {{"mode", "Mode"},
                                                                  {"esn", "ESN"},
                                                                  {"meid", "MEID"},
                                                                  {"imei", "IMEI"},
                                                                  {"compiled", "Compiled"},
                                                                  {"released", "Released"},
                                                                  {"version_dir", "Version dir"},
                                                                  {"build_id", "Build ID"},
                                                                  {"device_model", "Model"},
                                                                  {"group", "Group"}};
    std::printf("%s\n", j["port"].get<std::string>().c_str());
    if (j.contains("error")) {
        std::printf("  %-12s %s\n", "Error:", j["error"].get<std::string>().c_str());
        return;
    }
    for (const auto& [key, label] : kLabels) {
        const auto& value = j[key];
        std::string shown = value.is_null()     ? "(not given)"
                            : value.is_string() ? value.get<std::string>()
                                                : value.dump();
        if (std::strcmp(key, "imei") == 0 && !value.is_null())
            shown += j["imei_valid"].get<bool>() ? " (check digit valid)" : " (check digit wrong)";
        std::printf("  %-12s %s\n", (std::string(label) + ":").c_str(), shown.c_str());
    }
}

int Info(const InfoOptions& o) {
    EventQueue events;  // the lines are not shown: the error says why a port failed
    std::vector<std::unique_ptr<PortRun>> runs;
    std::vector<PortInfo> infos(o.ports.size());
    for (const auto& port : o.ports)
        runs.push_back(std::make_unique<PortRun>(port, ProgressModel::Counting(0), events));
    for (size_t i = 0; i < runs.size(); ++i) {
        PortInfo* info = &infos[i];
        runs[i]->Start([info](PortRun& run) {
            info->device.size = sizeof(FennixDeviceInfo);
            return run.RunFlow([info](FennixHandle session) { return ReadDeviceInfo(session, &info->device); });
        });
    }
    int exitCode = kExitOk;
    for (size_t i = 0; i < runs.size(); ++i) {
        runs[i]->Join();
        const RunSnapshot s = runs[i]->Snapshot();
        PortInfo& info = infos[i];
        info.read = s.result == 1;
        if (!info.read) {
            exitCode = kExitFailed;
            info.error = !s.causeText.empty() ? s.causeText
                         : !s.failure.empty() ? s.failure
                         : !s.cause.empty()   ? s.cause
                                              : "the device's identity could not be read";
        }
        const nlohmann::ordered_json j = Describe(o.ports[i], info);
        if (o.json)
            std::printf("%s\n", j.dump().c_str());
        else
            PrintBlock(j);
        std::fflush(stdout);
    }
    return exitCode;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* info =
        app.add_subcommand("info", "Read who the device on each port is: ESN, MEID, IMEI, version and build ID, mode");
    info->add_flag("--json", o->json, "One JSON object per port and line; a value the device did not give is null");
    info->add_option("port", o->ports, "Serial ports (read at once)")->required()->type_name("PORT...");
    info->callback([o, &exitCode] { exitCode = Info(*o); });
}

}  // namespace fennix::cli
