// fennix images: an image set looked at without a device (what `flash
// --images DIR` would send) and the manifest that pins its files.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "ImageSet.h"

namespace fennix::cli {

namespace {

struct ImagesOptions {
    ImageChoice images;
    bool json = false;
    bool force = false;
    std::string version;
    std::vector<std::string> platformIds;
};

std::string Joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const auto& t : texts) text += (text.empty() ? "" : ", ") + t;
    return text;
}

void PrintFiles(const std::vector<SentFile>& files) {
    for (const auto& f : files)
        std::printf("  %-10s %10s  %s  %s\n", f.role.c_str(), ByteText(static_cast<double>(f.size)).c_str(),
                    f.path.c_str(), f.sha256.c_str());
}

int RunCheck(const ImagesOptions& o) {
    ImageSet set;
    std::vector<std::string> problems = ResolveImageSet(o.images, &set);
    std::vector<SentFile> files = set.Files();
    std::string error;
    const bool described = DescribeFiles(files, &error);
    if (!described) problems.push_back(error);
    const std::vector<std::string> mismatches =
        described ? ManifestProblems(o.images, set, files) : std::vector<std::string>{};
    problems.insert(problems.end(), mismatches.begin(), mismatches.end());
    const bool matches = described && mismatches.empty();

    if (o.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& f : files)
            list.push_back({{"role", f.role}, {"path", f.path}, {"size", f.size}, {"sha256", f.sha256}});
        nlohmann::ordered_json manifest;
        if (set.manifest)
            manifest = {{"path", set.manifestPath},
                        {"version", set.manifestVersion.empty() ? nlohmann::ordered_json()
                                                                : nlohmann::ordered_json(set.manifestVersion)},
                        {"platform_ids", set.platformIds},
                        {"matches", matches}};
        const nlohmann::ordered_json out{{"schema", 1},
                                         {"directory", o.images.directory},
                                         {"files", list},
                                         {"manifest", manifest},
                                         {"problems", problems}};
        std::printf("%s\n", out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        std::printf("Image set in %s:\n", o.images.directory.c_str());
        PrintFiles(files);
        if (set.manifest)
            std::printf("%s%s%s%s: %s\n", set.manifestPath.c_str(),
                        set.manifestVersion.empty() ? "" : (", version " + set.manifestVersion).c_str(),
                        set.platformIds.empty() ? "" : ", platform IDs ", Joined(set.platformIds).c_str(),
                        matches ? "the files match" : "the files differ");
    }
    std::fflush(stdout);
    if (problems.empty()) return kExitOk;
    std::fprintf(stderr, "fennix images check: the image set is not usable:\n");
    for (const auto& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
    return kExitUsage;
}

int RunManifest(ImagesOptions& o) {
    namespace fs = std::filesystem;
    // One there under another case is the one replaced: two would be a conflict for every later reader.
    std::string path = (fs::path(o.images.directory) / kManifestName).make_preferred().string();
    const std::vector<std::string> existing = FilesNamedIgnoringCase(o.images.directory, kManifestName);
    const bool exists = !existing.empty();
    if (exists) path = existing.front();
    if (exists && !o.force)
        return UsageError(false, "fennix images manifest: " + path + " exists; give --force to replace it");
    for (const auto& id : o.platformIds)
        if (id.empty()) return UsageError(false, "fennix images manifest: --platform-id needs a text");
    o.images.readManifest = false;  // the one being replaced says nothing about the new
    ImageSet set;
    const std::vector<std::string> problems = ResolveImageSet(o.images, &set);
    if (!problems.empty()) {
        std::string text = "fennix images manifest: the image set is not usable; nothing was written:";
        for (const auto& p : problems) text += "\n  " + p;
        return UsageError(false, text);
    }
    std::vector<SentFile> files = set.Files();
    std::string problem;
    if (!DescribeFiles(files, &problem)) return UsageError(false, "fennix images manifest: " + problem);
    if (problem = WriteManifest(path, ManifestOf(files, o.version, o.platformIds)); !problem.empty()) {
        std::fprintf(stderr, "fennix images manifest: %s\n", problem.c_str());
        return kExitFailed;
    }
    std::printf("Wrote %s for %zu files:\n", path.c_str(), files.size());
    PrintFiles(files);
    return kExitOk;
}

void AddSetOptions(CLI::App* command, ImagesOptions& o) {
    command->add_option("dir", o.images.directory, "Folder with the image set under its usual names")
        ->required()
        ->type_name("DIR");
    command
        ->add_option("--model", o.images.model,
                     "MSM model; picks the programmer in DIR (needed when DIR holds more than one)")
        ->check(CLI::IsMember({"6250", "6260", "6280", "7200"}));
}

}  // namespace

void AddImagesCommands(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ImagesOptions>();
    CLI::App* images =
        app.add_subcommand("images", "Look at an image set without a device; write the manifest that pins it");
    images->require_subcommand(1);

    CLI::App* check =
        images->add_subcommand("check",
                               "The set `flash --images DIR` would send: role, size, path, SHA-256; checked against "
                               "DIR's fennix-images.json when it has one");
    AddSetOptions(check, *o);
    check->add_flag("--json", o->json,
                    "One JSON object: directory, files (role, path, size, sha256), manifest, problems");
    check->footer(
        "Exit status 0 when flash would take the set, 2 when it would not (a problem, a file that "
        "differs from the manifest).");
    check->callback([o, &exitCode] { exitCode = RunCheck(*o); });

    CLI::App* manifest =
        images->add_subcommand("manifest", "Write DIR/fennix-images.json: each file of the set found with its SHA-256");
    AddSetOptions(manifest, *o);
    manifest->add_option("--version", o->version, "Version text of the set")->type_name("TEXT");
    manifest->add_option("--platform-id", o->platformIds, "A platform ID the set is for (repeat for more)")
        ->type_name("ID")
        ->allow_extra_args(false);
    manifest->add_flag("--force", o->force, "Replace an existing fennix-images.json");
    manifest->footer(
        "Exit status 0 written, 1 it cannot be written, 2 a set flash would not take or a manifest "
        "already there (without --force).");
    manifest->callback([o, &exitCode] { exitCode = RunManifest(*o); });
}

}  // namespace fennix::cli
