#include "ImageSet.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "AsciiCase.h"
#include "InputFile.h"

namespace fennix::cli {

namespace fs = std::filesystem;

namespace {
// Stream addresses and lengths are 32-bit.
constexpr uint64_t kBodyLimit = 0xFFFFFFFFull;
// Headers and the partition table travel in one packet each.
constexpr uint64_t kPartitionLimit = 1024;
constexpr uint64_t kHeaderLimit = 512;

// The folder's names by their lower-case form, read once for the whole set.
class FolderNames {
public:
    explicit FolderNames(const fs::path& directory) : directory_(directory) {
        std::error_code error;
        for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            byLowerCase_[AsciiLower(name)].push_back(name);
        }
        for (auto& [lower, names] : byLowerCase_) std::sort(names.begin(), names.end());
    }

    // The file called `name` whatever its case; DIR/name when none is (its
    // check then says it does not exist); empty with `conflict` set when two
    // names match, since either could be the one meant.
    std::string Find(const std::string& name, const std::string& option, std::string* conflict) const {
        auto it = byLowerCase_.find(AsciiLower(name));
        if (it == byLowerCase_.end()) return (directory_ / name).string();
        if (it->second.size() > 1) {
            *conflict = Conflict(option, it->second);
            return {};
        }
        return (directory_ / it->second.front()).string();
    }

    // The CEFS image: cefs.mbn, else the one *.cefs or *.qvcefs file.
    std::string FindCefs(std::string* conflict) const {
        if (std::string path = Find("cefs.mbn", "cefs", conflict); !path.empty() && fs::exists(path)) return path;
        if (!conflict->empty()) return {};
        std::vector<std::string> found;
        for (const auto& [lower, names] : byLowerCase_) {
            const std::string extension = fs::path(lower).extension().string();
            if (extension == ".cefs" || extension == ".qvcefs") found.insert(found.end(), names.begin(), names.end());
        }
        if (found.size() > 1) {
            *conflict = Conflict("cefs", found);
            return {};
        }
        return found.empty() ? std::string() : (directory_ / found.front()).string();
    }

private:
    std::string Conflict(const std::string& option, const std::vector<std::string>& names) const {
        std::string text = "--" + option + ": " + directory_.string() + " holds ";
        for (size_t i = 0; i < names.size(); ++i)
            text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
        return text + "; keep only the one to send";
    }

    fs::path directory_;
    std::map<std::string, std::vector<std::string>> byLowerCase_;
};

std::string CheckFile(const std::string& option, const std::string& path, uint64_t limit) {
    if (std::string problem = InputFileProblem(path, limit); !problem.empty()) return "--" + option + ": " + problem;
    std::error_code error;
    if (fs::file_size(path, error) == 0) return "--" + option + ": " + path + " is empty";
    return {};
}

}  // namespace

const std::vector<ImageRole>& ImageRoles() {
    static const std::vector<ImageRole> roles = {
        {"partition", "partition table", "partition.mbn", false, kPartitionLimit, nullptr},
        {"obl", "OTP boot loader (OBL)", "obl.mbn", true, kBodyLimit, "OBL"},
        {"pbl", "primary boot loader (PBL)", "pbl.mbn", true, kBodyLimit, "PBL"},
        {"qcsblhd", "QCSBL header and configuration data", "qcsblhd_cfgdata.mbn", false, kBodyLimit, "QCSBLHD"},
        {"qcsbl", "secondary boot loader (QCSBL)", "qcsbl.mbn", false, kBodyLimit, "QCSBL"},
        {"oemsblhd", "OEMSBL header", "oemsblhd.mbn", false, kHeaderLimit, nullptr},
        {"oemsbl", "OEM boot loader (OEMSBL)", "oemsbl.mbn", false, kBodyLimit, "OEMSBL"},
        {"amsshd", "AMSS header", "amsshd.mbn", false, kHeaderLimit, nullptr},
        {"amss", "AMSS modem image", "amss.mbn", false, kBodyLimit, "AMSS"},
        {"cefs", "CEFS file-system image", "cefs.mbn", true, kBodyLimit, "CEFS"},
    };
    return roles;
}

bool CanLeaveOut(const ImageRole& role) { return std::string(role.option) != "partition"; }

std::string ProgrammerName(const std::string& model) {
    if (model == "6250") return "NPRG6250SEC.HEX";
    if (model == "6260") return "NPRG6260.HEX";
    if (model == "6280") return "NPRG6280.HEX";
    if (model == "7200") return "NPRG7200A.HEX";
    return {};
}

std::string ImageSet::Path(const std::string& role) const {
    auto it = paths.find(role);
    return it == paths.end() ? std::string() : it->second;
}

std::vector<StreamedImage> ImageSet::Streamed() const {
    std::vector<StreamedImage> images;
    for (const auto& role : ImageRoles()) {
        if (!role.streamName) continue;
        const std::string path = Path(role.option);
        if (path.empty()) continue;
        // A body sent with its header needs both; the engine skips the pair otherwise.
        if (std::string(role.option) == "oemsbl" && Path("oemsblhd").empty()) continue;
        if (std::string(role.option) == "amss" && Path("amsshd").empty()) continue;
        std::error_code error;
        images.push_back({role.streamName, fs::file_size(path, error)});
    }
    return images;
}

std::vector<SentFile> ImageSet::Files() const {
    std::vector<SentFile> files;
    if (!Path("programmer").empty()) files.push_back({"programmer", Path("programmer"), 0, {}});
    for (const auto& role : ImageRoles())
        if (!Path(role.option).empty()) files.push_back({role.option, Path(role.option), 0, {}});
    return files;
}

std::vector<std::string> FilesNamedIgnoringCase(const std::string& directory, const std::string& name) {
    std::vector<std::string> paths;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error))
        if (EqualIgnoringCase(entry->path().filename().string(), name))
            paths.push_back(fs::path(entry->path()).make_preferred().string());
    return paths;
}

std::vector<std::string> ResolveImageSet(const ImageChoice& choice, ImageSet* set) {
    std::vector<std::string> problems;
    const fs::path directory = choice.directory;
    if (!choice.directory.empty() && !fs::is_directory(directory))
        problems.push_back("--images: " + choice.directory + " is not a folder");
    const FolderNames names(choice.directory.empty() ? fs::path() : directory);

    std::string programmer = choice.programmer;
    std::string conflict;
    if (programmer.empty() && !choice.model.empty() && !choice.directory.empty())
        programmer = names.Find(ProgrammerName(choice.model), "programmer", &conflict);
    if (programmer.empty() && conflict.empty() && choice.model.empty() && !choice.directory.empty()) {
        // Without --model, a folder that holds exactly one of the programmers names it.
        std::vector<std::string> found;
        for (const char* model : {"6250", "6260", "6280", "7200"}) {
            const std::string path = names.Find(ProgrammerName(model), "programmer", &conflict);
            if (!path.empty() && fs::exists(path)) found.push_back(path);
        }
        if (found.size() == 1 && conflict.empty()) programmer = found.front();
    }
    if (!conflict.empty())
        problems.push_back(conflict);
    else if (programmer.empty())
        problems.push_back("no programmer: give --model 6250|6260|6280|7200 with --images, or --programmer FILE");
    else if (std::string p = CheckFile("programmer", programmer, kProgrammerFileLimit); !p.empty())
        problems.push_back(p);
    else
        set->paths["programmer"] = fs::path(programmer).make_preferred().string();

    for (const auto& role : ImageRoles()) {
        if (choice.leftOut.count(role.option)) continue;
        std::string path;
        conflict.clear();
        if (auto it = choice.files.find(role.option); it != choice.files.end())
            path = it->second;
        else if (!choice.directory.empty())
            path = std::string(role.option) == "cefs" ? names.FindCefs(&conflict)
                                                      : names.Find(role.usualName, role.option, &conflict);
        if (!conflict.empty()) {
            problems.push_back(conflict);
            continue;
        }
        const bool explicitlyNamed = choice.files.count(role.option) != 0;
        if (role.optional && !explicitlyNamed && (path.empty() || !fs::exists(path))) continue;
        if (path.empty()) {
            const std::string option = role.option;
            problems.push_back(
                "no " + option + " image: give --images DIR" +
                (CanLeaveOut(role) ? ", --" + option + " FILE or --no-" + option : " or --" + option + " FILE"));
            continue;
        }
        if (std::string p = CheckFile(role.option, path, role.maxBytes); !p.empty())
            problems.push_back(p);
        else
            set->paths[role.option] = fs::path(path).make_preferred().string();
    }

    if (choice.readManifest && !choice.directory.empty() && fs::is_directory(directory)) {
        conflict.clear();
        const std::string path = names.Find(kManifestName, "images", &conflict);
        if (!conflict.empty()) {
            problems.push_back(conflict);
        } else if (fs::exists(path)) {
            ImageManifest manifest;
            if (std::string problem = ReadManifest(path, &manifest); !problem.empty()) {
                problems.push_back(problem);
            } else {
                set->platformIds = manifest.platformIds;
                set->manifestVersion = manifest.version;
                set->manifestPath = fs::path(path).make_preferred().string();
                set->manifest = std::move(manifest);
            }
        }
    }
    return problems;
}

std::vector<std::string> ManifestProblems(const ImageChoice& choice, const ImageSet& set,
                                          const std::vector<SentFile>& described) {
    if (!set.manifest) return {};
    return ManifestMismatches(*set.manifest, described, choice.leftOut);
}

}  // namespace fennix::cli
