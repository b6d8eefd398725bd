// fennix brt show / brt diff: BRT files offline, no device.
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "Brt.h"
#include "Commands.h"

namespace fennix::cli {

namespace {

struct BrtOptions {
    std::string file, other;
    bool json = false;
};

bool Load(const std::string& path, BrtFile* brt) {
    std::string error;
    if (ReadBrt(path, brt, &error)) return true;
    std::fprintf(stderr, "fennix brt: %s\n", error.c_str());
    return false;
}

int Show(const BrtOptions& o) {
    BrtFile brt;
    if (!Load(o.file, &brt)) return kExitUsage;
    for (const auto& r : brt.records) {
        if (o.json)
            std::printf("%s\n", nlohmann::ordered_json{{"schema", 1},
                                                       {"item", r.item},
                                                       {"length", r.value.size()},
                                                       {"offset", r.offset},
                                                       {"value", Hex(r.value)}}
                                    .dump()
                                    .c_str());
        else
            std::printf("%8d  %5zu  %s\n", r.item, r.value.size(), Hex(r.value).c_str());
    }
    if (!o.json)
        std::printf("%s: %zu of %d records, %llu bytes\n", o.file.c_str(), brt.records.size(), brt.count,
                    static_cast<unsigned long long>(brt.size));
    if (!brt.note.empty()) std::fprintf(stderr, "fennix brt: %s: %s\n", o.file.c_str(), brt.note.c_str());
    if (brt.damage.empty()) return kExitOk;
    std::fprintf(stderr, "fennix brt: %s is damaged: %s\n", o.file.c_str(), brt.damage.c_str());
    return kExitFailed;
}

// Records keyed by item number and occurrence, so an item backed up twice
// is compared with its own second copy.
std::map<std::pair<int32_t, int>, const BrtRecord*> Keyed(const BrtFile& brt) {
    std::map<std::pair<int32_t, int>, const BrtRecord*> keyed;
    std::map<int32_t, int> seen;
    for (const auto& r : brt.records) keyed[{r.item, seen[r.item]++}] = &r;
    return keyed;
}

// "at 4: 01 -> ff" per run of changed bytes.
std::string ChangedBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::string text;
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n;) {
        auto differs = [&](size_t k) { return k >= a.size() || k >= b.size() || a[k] != b[k]; };
        if (!differs(i)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < n && differs(end)) ++end;
        const std::string from = i < a.size() ? Hex(a, i, end - i) : "";
        const std::string to = i < b.size() ? Hex(b, i, end - i) : "";
        text += "\n    at " + std::to_string(i) + ": " + (from.empty() ? "(none)" : from) + " -> " +
                (to.empty() ? "(none)" : to);
        i = end;
    }
    return text;
}

int Diff(const BrtOptions& o) {
    BrtFile a, b;
    if (!Load(o.file, &a) || !Load(o.other, &b)) return kExitUsage;
    for (const auto* f : {&a, &b})
        if (!f->damage.empty())
            std::fprintf(stderr, "fennix brt: %s is damaged: %s (compared as far as it goes)\n",
                         (f == &a ? o.file : o.other).c_str(), f->damage.c_str());
    const auto ka = Keyed(a), kb = Keyed(b);
    int differences = 0;
    for (const auto& [key, r] : ka)
        if (!kb.count(key)) {
            std::printf("only in A: item %d (%zu bytes) %s\n", key.first, r->value.size(), Hex(r->value).c_str());
            ++differences;
        }
    for (const auto& [key, r] : kb)
        if (!ka.count(key)) {
            std::printf("only in B: item %d (%zu bytes) %s\n", key.first, r->value.size(), Hex(r->value).c_str());
            ++differences;
        }
    for (const auto& [key, r] : ka) {
        auto other = kb.find(key);
        if (other == kb.end() || other->second->value == r->value) continue;
        std::printf("changed: item %d (%zu -> %zu bytes)%s\n", key.first, r->value.size(), other->second->value.size(),
                    ChangedBytes(r->value, other->second->value).c_str());
        ++differences;
    }
    std::printf("%d difference%s between %s (A) and %s (B)\n", differences, differences == 1 ? "" : "s", o.file.c_str(),
                o.other.c_str());
    // A damaged file is a bad input, not a difference: a script that tells
    // "changed" from "cannot compare" by the status sees 2.
    if (!a.damage.empty() || !b.damage.empty()) return kExitUsage;
    return differences ? kExitFailed : kExitOk;
}

}  // namespace

void AddBrtCommands(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<BrtOptions>();
    CLI::App* brt = app.add_subcommand("brt", "Look into BRT files (NV backups) offline, without a device");
    brt->require_subcommand(1);
    CLI::App* show = brt->add_subcommand("show", "List the records: item number, length, value in hex");
    show->add_option("file", o->file, "BRT file")->required()->type_name("FILE");
    show->add_flag("--json", o->json, "One JSON object per record");
    show->footer("Exit status 1 when the file is damaged (after the records read, with where it ends).");
    show->callback([o, &exitCode] { exitCode = Show(*o); });
    CLI::App* diff = brt->add_subcommand("diff",
                                         "Items only in A, only in B, and changed (with the changed bytes); exit 1 "
                                         "when they differ, 2 when one is damaged");
    diff->add_option("a", o->file, "BRT file A")->required()->type_name("A");
    diff->add_option("b", o->other, "BRT file B")->required()->type_name("B");
    diff->callback([o, &exitCode] { exitCode = Diff(*o); });
}

}  // namespace fennix::cli
