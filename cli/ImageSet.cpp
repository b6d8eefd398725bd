#include "ImageSet.h"

#include <filesystem>
#include <fstream>

#include "InputFile.h"

namespace fennix::cli {

namespace fs = std::filesystem;

namespace {
// Stream addresses and lengths are 32-bit.
constexpr uint64_t kBodyLimit = 0xFFFFFFFFull;
// Headers and the partition table travel in one packet each.
constexpr uint64_t kPartitionLimit = 1024;
constexpr uint64_t kHeaderLimit = 512;

std::string FindCefs(const fs::path& directory) {
    if (fs::exists(directory / "cefs.mbn")) return (directory / "cefs.mbn").string();
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error)) {
        std::string extension = entry->path().extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".cefs" || extension == ".qvcefs") return entry->path().string();
    }
    return {};
}

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

std::vector<std::string> ResolveImageSet(const ImageChoice& choice, ImageSet* set) {
    std::vector<std::string> problems;
    const fs::path directory = choice.directory;
    if (!choice.directory.empty() && !fs::is_directory(directory))
        problems.push_back("--images: " + choice.directory + " is not a folder");

    std::string programmer = choice.programmer;
    if (programmer.empty() && !choice.model.empty() && !choice.directory.empty())
        programmer = (directory / ProgrammerName(choice.model)).string();
    if (programmer.empty() && !choice.directory.empty()) {
        // Without --model, a folder that holds exactly one of the programmers names it.
        std::vector<std::string> found;
        for (const char* model : {"6250", "6260", "6280", "7200"})
            if (fs::exists(directory / ProgrammerName(model)))
                found.push_back((directory / ProgrammerName(model)).string());
        if (found.size() == 1) programmer = found.front();
    }
    if (programmer.empty())
        problems.push_back("no programmer: give --model 6250|6260|6280|7200 with --images, or --programmer FILE");
    else if (std::string p = CheckFile("programmer", programmer, kProgrammerFileLimit); !p.empty())
        problems.push_back(p);
    else
        set->paths["programmer"] = fs::path(programmer).make_preferred().string();

    for (const auto& role : ImageRoles()) {
        if (choice.leftOut.count(role.option)) continue;
        std::string path;
        if (auto it = choice.files.find(role.option); it != choice.files.end())
            path = it->second;
        else if (!choice.directory.empty())
            path = std::string(role.option) == "cefs" ? FindCefs(directory) : (directory / role.usualName).string();
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
    return problems;
}

}  // namespace fennix::cli
