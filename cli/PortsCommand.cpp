// fennix ports: the modem driver's ports, and with --all every serial port.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Commands.h"
#include "System.h"
#include "fennix/fennix.h"

namespace fennix::cli {

namespace {

struct PortsOptions {
    bool all = false;
    bool json = false;
};

struct Listed {
    std::string name, driver;
    bool modem = false;
};

int ListPorts(const PortsOptions& o) {
    char buffer[256] = {};
    GetComportList(buffer);
    std::vector<Listed> ports;
    std::stringstream list(buffer);
    for (std::string name; std::getline(list, name, ';');)
        if (!name.empty()) ports.push_back({name, "", true});
    if (o.all) {
        for (const auto& entry : AllSerialPorts()) {
            bool known = false;
            for (auto& p : ports)
                if (p.name == entry.name) {
                    p.driver = entry.driver;
                    known = true;
                }
            if (!known) ports.push_back({entry.name, entry.driver, false});
        }
    }
    for (const auto& p : ports) {
        const std::string stable = StableName(p.name);
        if (o.json) {
            std::printf(
                "%s\n",
                nlohmann::ordered_json{
                    {"schema", 1}, {"port", p.name}, {"modem", p.modem}, {"stable_name", stable}, {"driver", p.driver}}
                    .dump()
                    .c_str());
        } else {
            std::printf("%-16s %-6s %s%s\n", p.name.c_str(), p.modem ? "modem" : "serial", stable.c_str(),
                        p.driver.empty() ? "" : ("  (" + p.driver + ")").c_str());
        }
    }
    if (ports.empty() && !o.json)
        std::fprintf(stderr, "fennix: no %s port found\n", o.all ? "serial" : "Qualcomm modem");
    return kExitOk;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<PortsOptions>();
    CLI::App* ports =
        app.add_subcommand("ports", "List the ports of the Qualcomm modem driver, with their stable names on Linux");
    ports->add_flag("--all", o->all, "Add every serial port present, marked 'serial'");
    ports->add_flag("--json", o->json, "One JSON object per port");
    ports->footer(
        "On Linux the stable name under /dev/serial/by-path/ follows the physical USB socket: a device "
        "that re-enumerates comes back under it, so a bench with fixed sockets should use those names.");
    ports->callback([o, &exitCode] { exitCode = ListPorts(*o); });
}

}  // namespace fennix::cli
