// The NV part of the demo: a backup and restore round trip through libFennix's
// exported functions on one virtual DIAG device.
#pragma once

#include <cstdio>
#include <string>

namespace fennix::bench {

// Preloads a virtual device's NV memory, backs it up into a BRT file in
// `workDir`, spoils the memory, restores the BRT file and checks that the
// memory is as it was. Prints its progress to `out`; true when identical.
bool RunNvRoundTrip(const std::string& libraryPath, const std::string& workDir, std::FILE* out);

}  // namespace fennix::bench
