// fennix-images.json: what an image set holds (each role's file name and
// SHA-256), with an optional version text and the platform IDs it is for, so
// that a flash can refuse a set whose files were changed or swapped.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Report.h"

namespace fennix::cli {

inline constexpr const char* kManifestName = "fennix-images.json";

struct ManifestFile {
    std::string file;    // name in the set's folder
    std::string sha256;  // lower-case hex
};

struct ImageManifest {
    std::string version;
    std::vector<std::string> platformIds;
    std::map<std::string, ManifestFile> files;  // by role: "programmer", "partition", "amss", ...
};

// Reads and checks the manifest; empty when it is good, else the problem
// (not JSON, an unknown schema or role, a field of the wrong type).
std::string ReadManifest(const std::string& path, ImageManifest* manifest);

// The manifest for the described files, in the order given.
ImageManifest ManifestOf(const std::vector<SentFile>& files, const std::string& version,
                         const std::vector<std::string>& platformIds);

// Writes through a temporary file renamed into place, so that an interrupted
// write never leaves half a manifest; empty on success, else the problem.
std::string WriteManifest(const std::string& path, const ImageManifest& manifest);

// How the described files differ from the manifest, one line each: a file
// whose digest differs, a file the manifest names that the set lacks (unless
// its role was left out on purpose), a file the set sends that the manifest
// does not name. Empty: they match.
std::vector<std::string> ManifestMismatches(const ImageManifest& manifest, const std::vector<SentFile>& files,
                                            const std::set<std::string>& leftOut);

}  // namespace fennix::cli
