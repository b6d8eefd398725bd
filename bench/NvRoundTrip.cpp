#include "NvRoundTrip.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "fennix/fennix.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/VirtualDevice.h"

namespace fennix::bench {

namespace {

struct NvApi {
    decltype(&::SetComPort) setComPort = nullptr;
    decltype(&::SetCallBack) setCallBack = nullptr;
    decltype(&::SetCsvBrtFile) setCsvBrtFile = nullptr;
    decltype(&::StartBackupBrt) startBackupBrt = nullptr;
    decltype(&::StartRestoreBrt) startRestoreBrt = nullptr;
    decltype(&::Close) close = nullptr;

    bool Load(const std::string& path, std::string* error) {
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            *error = dlerror();
            return false;
        }
        return Find(library, "SetComPort", &setComPort, error) && Find(library, "SetCallBack", &setCallBack, error) &&
               Find(library, "SetCsvBrtFile", &setCsvBrtFile, error) &&
               Find(library, "StartBackupBrt", &startBackupBrt, error) &&
               Find(library, "StartRestoreBrt", &startRestoreBrt, error) && Find(library, "Close", &close, error);
    }
    template <typename F>
    static bool Find(void* library, const char* name, F* out, std::string* error) {
        *out = reinterpret_cast<F>(dlsym(library, name));
        if (!*out) *error = std::string("libFennix has no export ") + name;
        return *out != nullptr;
    }
};

std::FILE* g_out = nullptr;
void PrintLine(const char* text, int32_t status) { std::fprintf(g_out, "  NV  %s%s\n", status < 0 ? "!! " : "", text); }

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 5 * i);
    return bytes;
}

// A handset's worth of items: plain ones, indexed ones with one and three
// indexes, one that is not active, and one the list names but the device lacks.
void Preload(sim::CNvMemory& nv) {
    nv.items[0] = sim::SimNvItem::Plain(Pattern(4, 0x10));  // ESN-like
    nv.items[10] = sim::SimNvItem::Plain(Pattern(128, 0x20));
    nv.items[550] = sim::SimNvItem::Plain(Pattern(16, 0x30));
    nv.items[20] = sim::SimNvItem::Indexed({Pattern(127, 0x40)});
    nv.items[21] = sim::SimNvItem::Indexed({Pattern(127, 0x50), Pattern(127, 0x60), Pattern(127, 0x70)});
    nv.items[30] = sim::SimNvItem::WithStatus(5);
}

void Spoil(sim::CNvMemory& nv) {
    for (auto& [number, item] : nv.items) {
        item.data.fill(0xFF);
        for (auto& index : item.indexes) index.fill(0xFF);
    }
}

}  // namespace

bool RunNvRoundTrip(const std::string& libraryPath, const std::string& workDir, std::FILE* out) {
    g_out = out;
    NvApi api;
    std::string error;
    if (!api.Load(libraryPath, &error)) {
        std::fprintf(out, "NV round trip: %s\n", error.c_str());
        return false;
    }
    std::filesystem::create_directories(workDir);
    const std::string csv = workDir + "/nv-items.csv";
    const std::string brt = workDir + "/nv-backup.brt";
    std::ofstream(csv, std::ios::trunc) << "Name;Item\r\nesn;0\r\nwide;65546\r\nband;550\r\nsingle;20\r\n"
                                           "triple;21\r\ninactive;30\r\nmissing;999\r\n";

    sim::DeviceOptions options;
    options.mode = sim::DeviceMode::Diag;
    options.directory = workDir;
    options.name = "nv-device";
    sim::CVirtualDevice device(options);
    if (device.Start() != 0) {
        std::fprintf(out, "NV round trip: the virtual device did not start\n");
        return false;
    }
    std::string before;
    device.WithState([&](sim::DeviceState& s) {
        Preload(s.Extension<sim::CNvMemory>());
        before = sim::SaveNvStore(s.Extension<sim::CNvMemory>(), s.Extension<sim::CEfsTree>());
    });
    std::ofstream(workDir + "/nv-device-before.nv", std::ios::trunc) << before;

    std::fprintf(out, "\nNV backup and restore on %s\n", device.Path().c_str());
    FennixHandle session = api.setComPort(device.Path().c_str());
    api.setCallBack(session, PrintLine);
    api.setCsvBrtFile(session, csv.c_str(), brt.c_str());
    const int32_t backup = api.startBackupBrt(session);
    std::error_code ignored;
    const auto brtSize = std::filesystem::file_size(brt, ignored);

    std::string spoiled;
    device.WithState([&](sim::DeviceState& s) {
        Spoil(s.Extension<sim::CNvMemory>());
        spoiled = sim::SaveNvStore(s.Extension<sim::CNvMemory>(), s.Extension<sim::CEfsTree>());
    });
    std::fprintf(out, "  NV  (every item of the device overwritten with FF)\n");
    const int32_t restore = api.startRestoreBrt(session);
    api.close(session);

    std::string after;
    device.WithState([&](sim::DeviceState& s) {
        after = sim::SaveNvStore(s.Extension<sim::CNvMemory>(), s.Extension<sim::CEfsTree>());
    });
    std::ofstream(workDir + "/nv-device-after.nv", std::ios::trunc) << after;
    device.Stop();

    const bool identical = backup == 1 && restore == 1 && spoiled != before && after == before;
    std::fprintf(out, "NV round trip: backup %d, restore %d, %s (%llu bytes), device memory %s\n", backup, restore,
                 brt.c_str(), static_cast<unsigned long long>(brtSize),
                 identical ? "restored exactly" : "DIFFERS (see nv-device-before.nv / nv-device-after.nv)");
    return identical;
}

}  // namespace fennix::bench
