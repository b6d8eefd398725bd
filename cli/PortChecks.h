// The named ports, checked before any flow starts: a port that does not exist
// or a device named twice (by two names, or through a link) is a usage error,
// found while no port is open yet.
#pragma once

#include <string>
#include <vector>

namespace fennix::cli {

// The usage error's text ("fennix backup: ..."), empty when every port
// exists and each names a device of its own.
std::string PortListProblem(const std::string& command, const std::vector<std::string>& ports);

}  // namespace fennix::cli
