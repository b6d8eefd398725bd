#include "NvFlows.h"

#include <fstream>
#include <iterator>
#include <set>

#include "AsciiCase.h"
#include "InputFile.h"

namespace fennix::cli {

std::vector<ListedItem> ReadItemListFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ReadItemList(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

std::vector<int32_t> MissingItems(const std::vector<ListedItem>& items, const BrtFile& brt, int* backedUp) {
    std::set<int32_t> held, seen;
    for (const auto& record : brt.records) held.insert(record.item);
    std::vector<int32_t> missing;
    *backedUp = 0;
    for (const auto& item : items) {
        const auto number = static_cast<int32_t>(item.number);
        if (held.count(number)) {
            ++*backedUp;
            continue;
        }
        if (seen.insert(number).second) missing.push_back(number);
    }
    return missing;
}

bool CheckBrt(const std::string& path, BrtFile* brt, std::string* error) {
    if (!ReadBrt(path, brt, error)) return false;
    if (brt->damage.empty()) return true;
    *error = path + " is damaged: " + brt->damage;
    return false;
}

std::string DeviceFile(PortRun& run, const FileTemplate& name, TemplateValues values,
                       const std::optional<DeviceIdentity>& device) {
    if (!device && name.NamesDevice()) {
        run.ToolFailure("Who the device is could not be read, and " + name.Text() + " needs it; nothing was done",
                        "identity-missing");
        return {};
    }
    values.device = device ? &*device : nullptr;
    std::string unfilled;
    const std::string path = name.Resolve(values, &unfilled);
    if (path.empty()) {
        run.ToolFailure("The device gave no " + AsciiUpper(unfilled) + " for {" + unfilled + "} in " + name.Text() +
                            "; nothing was done",
                        "identity-missing");
    }
    return path;
}

int32_t ReadItemsInto(PortRun& run, const std::string& csv, const std::string& brt, BrtFile* written) {
    run.Setup([&](FennixHandle session) { SetCsvBrtFile(session, csv.c_str(), brt.c_str()); });
    const int32_t result = run.RunFlow(StartBackupBrt);
    if (result != 1) return result;
    std::string error;
    if (!ReadBrt(brt, written, &error) || !written->damage.empty()) {
        run.ToolFailure("The backup " + brt + " cannot be read back: " + (error.empty() ? written->damage : error),
                        "file-damaged");
        return 0;
    }
    return result;
}

int32_t BackupItems(PortRun& run, const std::string& csv, const std::vector<ListedItem>& items, const std::string& brt,
                    bool strict, BrtFile* written) {
    run.SetResultField("out", brt);
    int backedUp = 0;
    run.SetResultField("missing", MissingItems(items, {}, &backedUp));  // until the file written tells otherwise
    BrtFile read;
    if (!written) written = &read;
    const int32_t result = ReadItemsInto(run, csv, brt, written);
    if (result != 1) return result;
    const std::vector<int32_t> missing = MissingItems(items, *written, &backedUp);
    run.SetResultField("missing", missing);
    run.SetResultNote(std::to_string(items.size()) + " listed, " + std::to_string(backedUp) + " backed up");
    if (!strict || missing.empty()) return result;
    std::string numbers;
    for (const int32_t item : missing) numbers += (numbers.empty() ? "" : " ") + std::to_string(item);
    run.ToolFailure("Items not backed up: " + numbers + " (--strict); " + brt + " is kept", "items-missing");
    return 0;
}

int32_t RestoreItems(PortRun& run, const std::string& path, bool check) {
    run.SetResultField("in", path);
    if (check) {
        BrtFile brt;
        std::string error;
        if (!CheckBrt(path, &brt, &error)) {
            run.ToolFailure("Not restored: " + error,
                            InputFileProblem(path, kBrtFileLimit).empty() ? "file-damaged" : "file-missing");
            return 0;
        }
    }
    run.Setup([&](FennixHandle session) { SetCsvBrtFile(session, "", path.c_str()); });
    return run.RunFlow(StartRestoreBrt);
}

int32_t ImportDuck(PortRun& run, const std::string& path) {
    // Neither export reports lines of its own: the tool says what happened.
    int32_t imported = 0;
    run.Setup([&](FennixHandle session) { imported = DuckToNVArray(session, path.c_str()); });
    if (imported != 1) {
        run.ToolFailure("Cannot read the duck file " + path, "file-damaged");
        return 0;
    }
    run.ToolLine("Duck file read: " + path, 0);
    run.ToolLine("Writing the NV items and files into the device...", 0);
    if (run.RunFlow(NVArrayToMobile) != 1) {
        run.ToolLine("Writing the NV items failed: nothing was sent, or a write was lost", -1);
        return 0;
    }
    run.ToolLine("NV items and files written", 0);
    return 1;
}

}  // namespace fennix::cli
