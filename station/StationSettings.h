// Every setting of `fennix station`, as the command line and the config file
// give them. The file is read first; each option given on the command line
// then overrides its value.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Recipe.h"

namespace fennix::station {

struct StationSettings {
    // The sockets served: port paths as given (normally /dev/serial/by-path/
    // links); "auto" serves every entry that appears in the auto folders.
    std::vector<std::string> sockets;
    // The folders whose entries become sockets under "auto"
    // (default: /dev/serial/by-path).
    std::vector<std::string> autoDirs;
    RecipeOptions recipe;
    std::string db;                    // the record database (SQLite file)
    std::string name;                  // the station's name in its records; default: the host name
    std::string operatorName;          // default: $USER
    bool json = false;                 // one JSON object per event on standard output
    double drainTimeoutSeconds = 600;  // how long a first stop signal lets running runs go on
    // The web dashboard's "ADDRESS:PORT"; none: no web server; empty: 127.0.0.1:8080.
    std::optional<std::string> http;
    std::string httpToken;      // what every web request must carry; a non-loopback address needs one
    std::string httpTokenFile;  // the token's file (its first line), kept out of the process list
};

// Reads a TOML config file into `settings` (only the keys the file holds
// change); false with `error` set when the file cannot be read or holds an
// unknown key or a value of the wrong type.
bool LoadStationConfig(const std::string& path, StationSettings* settings, std::string* error);

}  // namespace fennix::station
