// Sets the diagnostic log's settings the way an administrator would on the
// system the tests run on: registry values under HKLM\SOFTWARE\Korvane on
// Windows, environment variables elsewhere.
#pragma once

#include <cstdint>
#include <string>

namespace fennix::testsupport {

// Removes the whole settings key (or every variable): no log at all.
void ClearLogSettings();
void SetLogLevel(uint32_t level);
void RemoveLogLevel();
void SetLogAppend(uint32_t option);
void SetLogApp(const std::string& prefix);

}  // namespace fennix::testsupport
