#include "flow/FlowTexts.h"

#include <cstddef>

namespace fennix {

namespace {

struct StageRow {
    Stage stage;
    const char* key;
};

// In the order of the enumeration, so that a stage is its own index.
constexpr StageRow kStages[] = {
    {Stage::None, "none"},
    {Stage::Open, "open"},
    {Stage::ModeSwitch, "mode-switch"},
    {Stage::Programmer, "programmer"},
    {Stage::Hello, "hello"},
    {Stage::PartitionTable, "partition-table"},
    {Stage::ImageOpen, "image-open"},
    {Stage::ImageWrite, "image-write"},
    {Stage::ImageClose, "image-close"},
    {Stage::Reset, "reset"},
    {Stage::PowerOnCheck, "power-on-check"},
    {Stage::NvItem, "nv-item"},
    {Stage::File, "file"},
};

struct CauseRow {
    Cause cause;
    const char* key;
    const char* text;
};

constexpr CauseRow kCauses[] = {
    {Cause::None, "none", "the flow succeeded"},
    {Cause::PortMissing, "port-missing", "the port does not exist"},
    {Cause::PortBusy, "port-busy", "another program holds the port"},
    {Cause::PortForbidden, "port-forbidden", "no permission to open the port"},
    {Cause::NoAnswer, "no-answer", "the device did not answer the probe"},
    {Cause::ModeSwitchFailed, "mode-switch-failed", "the device did not enter download or DIAG mode"},
    {Cause::ProgrammerRefused, "programmer-refused", "the device did not take or start the programmer"},
    {Cause::ImageOpenRefused, "image-open-refused", "the device refused an image at its open"},
    {Cause::ImageWriteRefused, "image-write-refused", "the device refused an image while it was written"},
    {Cause::ImageCloseRefused, "image-close-refused", "the device refused an image at its close"},
    {Cause::NotBackAfterReset, "not-back-after-reset", "the device did not come back after the reset"},
    {Cause::StoppedAnswering, "stopped-answering", "the device stopped answering"},
    {Cause::FileMissing, "file-missing", "a file is missing or cannot be read or written"},
    {Cause::FileDamaged, "file-damaged", "a file is damaged"},
    {Cause::Cancelled, "cancelled", "the flow was cancelled"},
    {Cause::DeviceRefused, "device-refused", "the device refused a request"},
};

template <typename Row, size_t N, typename Key>
const Row& RowOf(const Row (&rows)[N], Key key) {
    const auto index = static_cast<size_t>(key);
    return index < N ? rows[index] : rows[0];
}

static_assert(sizeof kStages / sizeof kStages[0] == static_cast<size_t>(Stage::File) + 1, "a row per stage");
static_assert(sizeof kCauses / sizeof kCauses[0] == static_cast<size_t>(Cause::DeviceRefused) + 1, "a row per cause");

constexpr bool RowsInOrder() {
    for (size_t i = 0; i < sizeof kStages / sizeof kStages[0]; ++i)
        if (static_cast<size_t>(kStages[i].stage) != i) return false;
    for (size_t i = 0; i < sizeof kCauses / sizeof kCauses[0]; ++i)
        if (static_cast<size_t>(kCauses[i].cause) != i) return false;
    return true;
}
static_assert(RowsInOrder(), "each row at its value's index");

}  // namespace

const char* StageKey(Stage stage) { return RowOf(kStages, stage).key; }
const char* CauseKey(Cause cause) { return RowOf(kCauses, cause).key; }
const char* CauseText(Cause cause) { return RowOf(kCauses, cause).text; }

}  // namespace fennix
