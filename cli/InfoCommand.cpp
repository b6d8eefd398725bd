// fennix info: who the device on each port is, read on every port at once.
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "DeviceIdentity.h"
#include "PortChecks.h"
#include "PortRun.h"

namespace fennix::cli {

namespace {

struct InfoOptions {
    bool json = false;
    std::vector<std::string> ports;
};

struct PortInfo {
    FennixDeviceInfo device{};
    bool read = false;
    std::string error;
};

// Every field in the order the JSON gives them; a null is a value not given.
nlohmann::ordered_json Describe(const std::string& port, const PortInfo& p) {
    nlohmann::ordered_json j;
    j["port"] = port;
    j.update(IdentityJson(p.read ? IdentityOf(p.device) : DeviceIdentity{}));
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
    if (const std::string problem = PortListProblem("info", o.ports); !problem.empty())
        return UsageError(o.json, problem);
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
