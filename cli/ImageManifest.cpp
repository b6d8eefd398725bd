#include "ImageManifest.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ImageSet.h"
#include "InputFile.h"
#include "System.h"

namespace fennix::cli {

namespace fs = std::filesystem;

namespace {

// A manifest lists a dozen files; anything near this is not one.
constexpr uint64_t kManifestLimit = 1ull << 20;

// "programmer" first, then the roles in the order the engine takes them.
std::vector<std::string> ManifestRoles() {
    std::vector<std::string> roles{"programmer"};
    for (const auto& role : ImageRoles()) roles.push_back(role.option);
    return roles;
}

bool NormalizeDigest(std::string& text) {
    if (text.size() != 64) return false;
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string ParseManifest(const nlohmann::json& j, ImageManifest* m) {
    if (!j.is_object()) return "is not a JSON object";
    if (!j.contains("schema") || !j["schema"].is_number_integer()) return "\"schema\" must be a number";
    if (j["schema"] != 1) return "schema " + j["schema"].dump() + " is not known (this fennix reads schema 1)";
    if (j.contains("version") && !j["version"].is_null()) {
        if (!j["version"].is_string()) return "\"version\" must be text";
        m->version = j["version"].get<std::string>();
    }
    if (j.contains("platform_ids") && !j["platform_ids"].is_null()) {
        if (!j["platform_ids"].is_array()) return "\"platform_ids\" must be a list of texts";
        for (const auto& id : j["platform_ids"]) {
            if (!id.is_string()) return "\"platform_ids\" must be a list of texts";
            m->platformIds.push_back(id.get<std::string>());
        }
    }
    if (!j.contains("files") || !j["files"].is_object()) return "\"files\" must be an object of roles";
    const std::vector<std::string> roles = ManifestRoles();
    for (const auto& [role, entry] : j["files"].items()) {
        const std::string where = "\"files\".\"" + role + "\"";
        if (std::find(roles.begin(), roles.end(), role) == roles.end()) return where + " is not an image role";
        if (!entry.is_object()) return where + " must be an object with \"file\" and \"sha256\"";
        ManifestFile file;
        if (!entry.contains("file") || !entry["file"].is_string() || entry["file"].get<std::string>().empty())
            return where + ".\"file\" must be a file name";
        file.file = entry["file"].get<std::string>();
        if (!entry.contains("sha256") || !entry["sha256"].is_string()) return where + ".\"sha256\" must be text";
        file.sha256 = entry["sha256"].get<std::string>();
        if (!NormalizeDigest(file.sha256)) return where + ".\"sha256\" must be 64 hex digits";
        m->files[role] = file;
    }
    return {};
}

}  // namespace

std::string ReadManifest(const std::string& path, ImageManifest* manifest) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (std::string problem = InputFileProblem(path, kManifestLimit); !problem.empty()) return problem;
    if (!ReadInputFile(path, kManifestLimit, &bytes, &error)) return error;
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(bytes.begin(), bytes.end());
    } catch (const nlohmann::json::parse_error& e) {
        std::string what = e.what();
        // nlohmann's messages start with "[json.exception.parse_error.101] ".
        if (const size_t end = what.find("] "); what.rfind("[json.", 0) == 0 && end != std::string::npos)
            what.erase(0, end + 2);
        return path + " is not valid JSON: " + what;
    }
    *manifest = ImageManifest{};
    if (std::string problem = ParseManifest(j, manifest); !problem.empty()) {
        *manifest = ImageManifest{};
        return path + ": " + problem;
    }
    return {};
}

ImageManifest ManifestOf(const std::vector<SentFile>& files, const std::string& version,
                         const std::vector<std::string>& platformIds) {
    ImageManifest manifest{version, platformIds, {}};
    for (const auto& f : files) manifest.files[f.role] = {fs::path(f.path).filename().string(), f.sha256};
    return manifest;
}

std::string WriteManifest(const std::string& path, const ImageManifest& manifest) {
    nlohmann::ordered_json j{{"schema", 1}};
    if (!manifest.version.empty()) j["version"] = manifest.version;
    if (!manifest.platformIds.empty()) j["platform_ids"] = manifest.platformIds;
    j["files"] = nlohmann::ordered_json::object();
    for (const auto& role : ManifestRoles())
        if (auto it = manifest.files.find(role); it != manifest.files.end())
            j["files"][role] = {{"file", it->second.file}, {"sha256", it->second.sha256}};

    const std::string temporary = path + "." + std::to_string(ProcessId()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return "cannot write " + temporary;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return "cannot write " + path + ": " + error.message();
    }
    return {};
}

std::vector<std::string> ManifestMismatches(const ImageManifest& manifest, const std::vector<SentFile>& files,
                                            const std::set<std::string>& leftOut) {
    std::vector<std::string> problems;
    for (const auto& f : files) {
        auto named = manifest.files.find(f.role);
        if (named == manifest.files.end())
            problems.push_back("--" + f.role + ": " + f.path + " is not named in " + kManifestName);
        else if (named->second.sha256 != f.sha256)
            problems.push_back("--" + f.role + ": " + f.path + " differs from " + kManifestName +
                               ": expected SHA-256 " + named->second.sha256 + ", found " + f.sha256);
    }
    for (const auto& role : ManifestRoles()) {
        auto named = manifest.files.find(role);
        if (named == manifest.files.end() || leftOut.count(role)) continue;
        const bool sent = std::any_of(files.begin(), files.end(), [&](const SentFile& f) { return f.role == role; });
        if (!sent)
            problems.push_back("--" + role + ": " + kManifestName + " names " + named->second.file +
                               ", but the set has no " + role + " image");
    }
    return problems;
}

}  // namespace fennix::cli
