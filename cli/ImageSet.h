// The files of a download: taken by their usual names from a folder, each
// replaceable or left out by its own option, and checked before any port is
// touched.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ImageManifest.h"
#include "Progress.h"
#include "Report.h"

namespace fennix::cli {

// One file of the set, in the order SetMbnFile takes them (the programmer first).
struct ImageRole {
    const char* option;      // "amss": --amss FILE, --no-amss
    const char* title;       // for the help text
    const char* usualName;   // in the --images folder
    bool optional;           // a set may lack it
    uint64_t maxBytes;       // the most the engine takes (0: a streamed body)
    const char* streamName;  // shown while it streams; null for files sent whole
};
const std::vector<ImageRole>& ImageRoles();
// Whether a flash may go without the role's file (--no-<role>): every one but
// the partition table, without which the device takes no image.
bool CanLeaveOut(const ImageRole& role);

struct ImageChoice {
    std::string directory;
    std::string model;                         // 6250 | 6260 | 6280 | 7200
    std::string programmer;                    // overrides the model's file
    std::map<std::string, std::string> files;  // by role option
    std::set<std::string> leftOut;             // --no-<role>
    bool readManifest = true;                  // the folder's fennix-images.json, when it has one
};

struct ImageSet {
    std::map<std::string, std::string> paths;  // by role option; "programmer" too; absent: not sent
    std::string Path(const std::string& role) const;
    std::vector<StreamedImage> Streamed() const;  // in streaming order, with sizes
    std::vector<SentFile> Files() const;          // every file sent

    // From the folder's fennix-images.json; empty without one.
    std::optional<ImageManifest> manifest;
    std::string manifestPath;
    std::vector<std::string> platformIds;  // the devices the set is for; empty: any
    std::string manifestVersion;           // may be empty
};

// The programmer's usual file name for a model; empty for an unknown model.
std::string ProgrammerName(const std::string& model);

// The paths of the files in `directory` called `name` whatever the case of
// their letters.
std::vector<std::string> FilesNamedIgnoringCase(const std::string& directory, const std::string& name);

// Resolves and checks the set; the problems found, each one line (empty: good).
// A usual name is found whatever the case of its letters (sets come from
// Windows benches); two names that differ only in case are a problem.
std::vector<std::string> ResolveImageSet(const ImageChoice& choice, ImageSet* set);

// How the described files of the set differ from its manifest (empty without
// one): see ManifestMismatches.
std::vector<std::string> ManifestProblems(const ImageChoice& choice, const ImageSet& set,
                                          const std::vector<SentFile>& described);

}  // namespace fennix::cli
