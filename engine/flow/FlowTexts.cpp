#include "flow/FlowTexts.h"

#include <cstddef>
#include <cstdio>

#include "flow/OperatorLines.h"

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

struct LineRow {
    OperatorLine line;
    OperatorLineText text;
};

// Byte for byte as operators and their scripts have always read them.
constexpr LineRow kLines[] = {
    {OperatorLine::None, {nullptr, 0}},
    {OperatorLine::TestCommunicationRetry, {"Test Communication, Try again..", 0}},
    {OperatorLine::TestCommunicationFailed, {"Test Communication Failed!!", -1}},
    {OperatorLine::TestCommunicationSucceeded, {"Test Communication Success!!", 0}},
    {OperatorLine::RequestParameter, {"Request Parameter !!", 0}},
    {OperatorLine::HexFileOpenFailed, {"Open HEX File Failed!!", -1}},
    {OperatorLine::HexFileOpened, {"Open HEX File Success!!", 0}},
    {OperatorLine::HexFileFailed, {"Download HEX File Failed!!", -1}},
    {OperatorLine::HexFileSucceeded, {"Download HEX File Success!!", 0}},
    {OperatorLine::HelloFailed, {"Hello Failed!!", -1}},
    {OperatorLine::HelloSucceeded, {"Hello Success!!", 0}},
    {OperatorLine::SecurityFailed, {"Send Security Failed!!", -1}},
    {OperatorLine::SecuritySucceeded, {"Send Security Success!!", 0}},
    {OperatorLine::PartitionFailed, {"Download Partition.mbn File Failed!!", -1}},
    {OperatorLine::PartitionSucceeded, {"Download Partition.mbn File Success!!", 0}},
    {OperatorLine::OblFailed, {"Download OBL File Failed!!", -1}},
    {OperatorLine::OblSucceeded, {"Download OBL File Success!!", 0}},
    {OperatorLine::PblFailed, {"Download PBL File Failed!!", -1}},
    {OperatorLine::PblSucceeded, {"Download PBL File Success!!", 0}},
    {OperatorLine::QcsblhdFailed, {"Download QCSBLHD File Failed!!", -1}},
    {OperatorLine::QcsblhdSucceeded, {"Download QCSBLHD File Success!!", 0}},
    {OperatorLine::QcsblFailed, {"Download QCSBL File Failed!!", -1}},
    {OperatorLine::QcsblSucceeded, {"Download QCSBL File Success!!", 0}},
    {OperatorLine::OemsblSucceeded, {"Download OEMSBLHD and OEMSBL File Success!!", 0}},
    {OperatorLine::AmssFailed, {"Download AMSSHD and AMSS File Failed!!", -1}},
    {OperatorLine::AmssSucceeded, {"Download AMSSHD and AMSS File Success!!", 0}},
    {OperatorLine::AmssBootFailed, {"Download AMSSBOOTHD and AMSSBOOT File Failed!!", -1}},
    {OperatorLine::AmssBootSucceeded, {"Download AMSSHDBOOTHD and AMSSBOOT File Success!!", 0}},
    {OperatorLine::WindowsMobileFailed, {"Download Windows Mobile File Failed!!", -1}},
    {OperatorLine::WindowsMobileSucceeded, {"Download Windows Mobile File Success!!", 0}},
    {OperatorLine::CefsFailed, {"Download CEFS File Failed!!", -1}},
    {OperatorLine::CefsSucceeded, {"Download CEFS File Success!!", 0}},
    {OperatorLine::ResetWait, {"Reset !! Please Wait....", 0}},
    {OperatorLine::ResetFailed, {"Reset Failed....", -1}},
    {OperatorLine::ProcessFailed, {"Download Process Failed!!", -1}},
    {OperatorLine::SkipCheck, {"Skip Checking POWER_ON Status...!!", 0}},
    {OperatorLine::Blank, {"", 0}},
    {OperatorLine::ProcessSucceeded, {"Download Process Success!!", 0}},
};

template <typename Row, size_t N, typename Key>
const Row& RowOf(const Row (&rows)[N], Key key) {
    const auto index = static_cast<size_t>(key);
    return index < N ? rows[index] : rows[0];
}

static_assert(sizeof kStages / sizeof kStages[0] == static_cast<size_t>(Stage::File) + 1, "a row per stage");
static_assert(sizeof kCauses / sizeof kCauses[0] == static_cast<size_t>(Cause::DeviceRefused) + 1, "a row per cause");
static_assert(sizeof kLines / sizeof kLines[0] == static_cast<size_t>(OperatorLine::ProcessSucceeded) + 1,
              "a row per line");

constexpr bool RowsInOrder() {
    for (size_t i = 0; i < sizeof kStages / sizeof kStages[0]; ++i)
        if (static_cast<size_t>(kStages[i].stage) != i) return false;
    for (size_t i = 0; i < sizeof kCauses / sizeof kCauses[0]; ++i)
        if (static_cast<size_t>(kCauses[i].cause) != i) return false;
    for (size_t i = 0; i < sizeof kLines / sizeof kLines[0]; ++i)
        if (static_cast<size_t>(kLines[i].line) != i) return false;
    return true;
}
static_assert(RowsInOrder(), "each row at its value's index");

}  // namespace

const char* StageKey(Stage stage) { return RowOf(kStages, stage).key; }
const char* CauseKey(Cause cause) { return RowOf(kCauses, cause).key; }
const char* CauseText(Cause cause) { return RowOf(kCauses, cause).text; }
const OperatorLineText& TextOf(OperatorLine line) { return RowOf(kLines, line).text; }
void FormatPercentLine(char (&line)[32], int percent) {
    std::snprintf(line, sizeof line, " %3.d %% completed.", percent);
}

}  // namespace fennix
