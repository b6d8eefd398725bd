// The flash of an image set into one device, shared by `fennix flash` and the
// station's recipes: the set resolved and checked before any port opens, the
// model check against the device, the download, and who the device is after it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "DeviceIdentity.h"
#include "ImageSet.h"
#include "PortRun.h"
#include "Report.h"

namespace fennix::cli {

struct FlashPlan {
    ImageSet set;
    std::vector<SentFile> files;  // described: sizes, times, digests
    std::string model;            // --model; empty when not given
    bool skipCheck = false;
    bool force = false;
    // --window (0: auto) and --block auto: see SetStreaming.
    int window = 1;
    bool blockAuto = false;
};

// How a flash streams, as given: --window auto|N, --block auto|1024.
struct StreamingChoice {
    std::string window = "1";
    std::string block = "1024";
};

// Adds --window and --block to a command that flashes.
void AddStreamingOptions(CLI::App* command, StreamingChoice& choice, const std::string& group = "");
// The choice into the plan; false with the reason in `error` (starting with `who`).
bool ApplyStreamingChoice(const StreamingChoice& choice, FlashPlan* plan, const std::string& who, std::string* error);

// `choice` with the per-role options in it: --amss FILE (empty: not given), --no-obl.
ImageChoice WithRoleOptions(ImageChoice choice, const std::map<std::string, std::string>& files,
                            const std::map<std::string, bool>& leftOut);

// Resolves the set, describes its files and checks them against the folder's
// manifest; false with the usage error in `error`, which starts with `who`
// ("fennix flash") and says `consequence` ("no port was opened").
bool PrepareFlash(const ImageChoice& choice, FlashPlan* plan, const std::string& who, const std::string& consequence,
                  std::string* error);

// The model check's verdict before anything is written: true when the flash
// may go on. `dryRun`: a mismatch is told, not failed.
bool CheckModel(PortRun& run, const std::optional<DeviceIdentity>& device, const std::string& model,
                const ImageSet& set, bool force, bool dryRun);

// The model check against `device` (nothing: in download mode or not read),
// then the download; after a power-on check, who the device is now as the
// result field "device_after" (also in `after` when given).
int32_t FlashDevice(PortRun& run, const FlashPlan& plan, const std::optional<DeviceIdentity>& device,
                    std::optional<DeviceIdentity>* after = nullptr);

}  // namespace fennix::cli
