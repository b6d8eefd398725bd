#include "fault_matrix_rig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "nv/BrtFile.h"
#include "serial/SerCOMLibrary.h"
#include "nv/DuckFile.h"
#include "session/ExportResults.h"
#include "session/NvSession.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"

namespace fennix::matrix {

namespace {

using Bytes = std::vector<uint8_t>;
using sim::CEfsTree;
using sim::CNvMemory;
using sim::DeviceMode;
using test::LeBuilder;

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 7 * i);
    return b;
}
Bytes Slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }
std::string Hex(const Bytes& b) { return sim::HexOf(b.data(), b.size()); }

// Backup: five items listed that the device holds (one read by index), one
// not active, which is left out.
Bytes Plain(int item) { return Pattern(128, static_cast<uint8_t>(item)); }
const Bytes kIndex0 = Pattern(127, 20), kIndex1 = Pattern(127, 21);

// Restore: three plain items and one of three indexes, each with an old value
// in the device and a new one in the BRT file.
constexpr int kRestorePlain[] = {1, 2, 3};
constexpr int kRestoreIndexed = 20;
Bytes OldPlain(int item) { return Pattern(128, static_cast<uint8_t>(0x40 + item)); }
Bytes NewPlain(int item) { return Pattern(128, static_cast<uint8_t>(0x10 + item)); }
Bytes OldIndex(size_t k) { return Pattern(127, static_cast<uint8_t>(0x50 + k)); }
const Bytes kNewChunks = Pattern(384, 0x22);
Bytes NewIndex(size_t k) { return Slice(kNewChunks, 128 * k, 127); }

// Duck import: two numbered items, an ARRAY entry and a file in a directory
// the device has.
constexpr int kDuckItems[] = {5, 6};
constexpr int kDuckArray = 550;
const Bytes kDuckArrayValue = Pattern(128, 0x77);
const Bytes kDuckFileValue = Pattern(100, 0x88);
const char kDuckFilePath[] = "cfg/radio";

sim::SampleImageSizes MatrixImageSizes() {
    sim::SampleImageSizes s;
    s.programmer = 1500;
    s.qcsblhd = 300;
    s.qcsbl = 900;
    s.oemsbl = 1000;
    s.amss = 30000;  // most stream writes are the AMSS image's: the middle request is one
    s.cefs = 800;
    return s;
}

sim::DeviceOptions OptionsFor(Flow flow) {
    switch (flow) {
        case Flow::DownloadFromAt: return sim::AtDevice();
        case Flow::DownloadFromDownload: return sim::DownloadDevice();
        case Flow::DownloadWindowed: {
            sim::DeviceOptions o = sim::DownloadDevice();
            o.knobs["dl.window"] = kWindow;
            o.knobs["link.profile"] = 1;
            return o;
        }
        default: return sim::DiagDevice("Q6250");
    }
}

Timeouts MatrixTimes() {
    Timeouts t = Timeouts::WithScale(0.05);
    t.replyWait = t.streamWriteWait = t.closeImageWait = t.cefsOpenWait = kReplyWait;
    t.powerOnPause = 100;  // the device is back at once
    // A port gone for good is seen after 120 polls: 3 s instead of 6.
    t.dlDetectionPoll = t.diagDetectionPoll = 25;
    return t;
}

bool OneOf(const Bytes& value, const Bytes& a, const Bytes& b) { return value == a || value == b; }

}  // namespace

const char* FlowName(Flow flow) {
    switch (flow) {
        case Flow::DownloadFromAt: return "download from AT";
        case Flow::DownloadFromDiag: return "download from DIAG";
        case Flow::DownloadFromDownload: return "download from download mode";
        case Flow::Backup: return "backup";
        case Flow::Restore: return "restore";
        case Flow::DuckImport: return "duck import";
        case Flow::DownloadWindowed: return "windowed download";
    }
    return "?";
}

bool IsDownload(Flow flow) {
    return flow == Flow::DownloadFromAt || flow == Flow::DownloadFromDiag || flow == Flow::DownloadFromDownload ||
           flow == Flow::DownloadWindowed;
}

FlowRig::FlowRig(Flow flow) : flow_(flow), device_(OptionsFor(flow)) {
    if (!device_.Ok()) return;
    const Timeouts times = MatrixTimes();
    session_ = std::make_unique<CQualCmd>(std::make_unique<CSerCOMLibrary>(times), times);
    session_->SetPortName(device_.Path().c_str());
    session_->SetCallback(testsupport::RecordThreadLine);

    std::string store;
    switch (flow) {
        case Flow::Backup:
            store = "item 1 plain " + Hex(Plain(1)) + "\nitem 2 plain " + Hex(Plain(2)) + "\nitem 20 indexed " +
                    Hex(kIndex0) + " " + Hex(kIndex1) + "\nitem 3 plain " + Hex(Plain(3)) +
                    "\nitem 30 status 5\nitem 4 plain " + Hex(Plain(4)) + "\n";
            test::WriteText(dir_.File("items.csv"), "Name;Item\na;1\nb;2\nc;20\nd;3\ne;30\nf;4\n");
            oldBrt_ = LeBuilder().I32(1).I32(99).Counted(Pattern(16, 0x99)).Bytes();
            test::WriteBytes(dir_.File("nv.brt"), oldBrt_);
            session_->SetCsvBrtPaths(dir_.File("items.csv").c_str(), dir_.File("nv.brt").c_str());
            break;
        case Flow::Restore: {
            for (int item : kRestorePlain)
                store += "item " + std::to_string(item) + " plain " + Hex(OldPlain(item)) + "\n";
            store += "item 20 indexed " + Hex(OldIndex(0)) + " " + Hex(OldIndex(1)) + " " + Hex(OldIndex(2)) + "\n";
            LeBuilder brt;
            brt.I32(4).I32(1).Counted(NewPlain(1)).I32(kRestoreIndexed).Counted(kNewChunks);
            brt.I32(2).Counted(NewPlain(2)).I32(3).Counted(NewPlain(3));
            test::WriteBytes(dir_.File("nv.brt"), brt.Bytes());
            session_->SetCsvBrtPaths(nullptr, dir_.File("nv.brt").c_str());
            break;
        }
        case Flow::DuckImport: {
            for (int item : kDuckItems)
                store += "item " + std::to_string(item) + " plain " + Hex(OldPlain(item)) + "\n";
            store += "dir cfg\n";
            LeBuilder duck;
            for (int item : kDuckItems) duck.I32(item).Counted(NewPlain(item));
            duck.I32(-1).CountedText("ARRAY#" + std::to_string(kDuckArray)).Counted(kDuckArrayValue);
            duck.I32(-1).CountedText(kDuckFilePath).Counted(kDuckFileValue).Counted({});
            test::WriteBytes(dir_.File("set.duck"), duck.Bytes());
            break;
        }
        default:
            images_ = std::make_unique<testsupport::TestImageSet>(MatrixImageSizes());
            images_->Apply(*session_);
            if (flow == Flow::DownloadWindowed)
                session_->SetStreaming(StreamSettings{StreamSettings::kWindowAuto, false});
            return;
    }
    std::string error;
    device_->WithState([&](sim::DeviceState& s) {
        if (!sim::LoadNvStore(store, s.Extension<CNvMemory>(), s.Extension<CEfsTree>(), &error))
            std::fprintf(stderr, "NV store not loaded: %s\n", error.c_str());
    });
}

FlowRig::~FlowRig() = default;

int32_t FlowRig::RunFlow() {
    switch (flow_) {
        case Flow::Backup: return FlowResultCode(RunBackupBrt(*session_));
        case Flow::Restore: return FlowResultCode(RunRestoreBrt(*session_));
        case Flow::DuckImport:
            if (!LoadDuckFile(dir_.File("set.duck"), session_->NumberedItems(), session_->NamedItems()).Succeeded())
                return -100;
            return ItemListsResultCode(SendItemLists(*session_));
        default: return FlowResultCode(session_->StartDownload());
    }
}

FlowRun FlowRig::Run() {
    const auto start = std::chrono::steady_clock::now();
    auto running = std::async(std::launch::async, [this] {
        testsupport::ThreadLines().clear();
        FlowRun run;
        run.result = RunFlow();
        run.lines = testsupport::ThreadLines();
        return run;
    });
    bool hung = false;
    if (running.wait_for(kCaseLimit) != std::future_status::ready) {
        // Taking the port away ends every wait the flow may be in.
        hung = true;
        Device().Unplug();
        if (running.wait_for(kCaseLimit) != std::future_status::ready) {
            std::fprintf(stderr, "%s: the flow does not end even without its port\n", FlowName(flow_));
            std::abort();
        }
    }
    FlowRun run = running.get();
    run.hung = hung;
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return run;
}

std::vector<SeenRequest> FlowRig::FlowRequests() {
    std::vector<SeenRequest> seen;
    for (const sim::RecordedEvent& e : device_.Device().Recording().Events()) {
        if (e.kind != sim::EventKind::Request) continue;
        const int command = e.mode == DeviceMode::At ? -1 : e.Command();
        const bool nv = e.mode == DeviceMode::Diag && (command == 38 || command == 39 || command == 75);
        if (IsDownload(flow_) || nv) seen.push_back({e.mode, command});
    }
    return seen;
}

int FlowRig::MostWritesOutstanding() { return device_.Device().Recording().StreamWindow().mostOutstanding; }

int FlowRig::RefusedItem() {
    int item = -1;
    for (const sim::RecordedEvent& e : device_.Device().Recording().Events()) {
        if (e.kind == sim::EventKind::Request && e.Command() == 75) {
            item = kFileRefused;
        } else if (e.kind == sim::EventKind::Request) {
            const bool nv = (e.Command() == 38 || e.Command() == 39) && e.bytes.size() >= 3;
            item = nv ? e.bytes[1] | (e.bytes[2] << 8) : -1;
        }
        if (e.kind == sim::EventKind::Note &&
            e.text == std::string("injected fault: ") + sim::InjectedFaultName(sim::InjectedFault::Refused))
            return item;
    }
    return -1;
}

std::string FlowRig::WholeDataProblem() {
    std::string problem;
    auto need = [&problem](bool ok, const std::string& what) {
        if (!ok) problem += what + "; ";
    };
    const int refused = RefusedItem();
    switch (flow_) {
        case Flow::Backup: {
            const Bytes bytes = test::ReadBytes(dir_.File("nv.brt"));
            const BrtContents brt = DecodeBrt(bytes.data(), bytes.size());
            Bytes indexed = kIndex0;
            indexed.push_back(0);
            indexed.insert(indexed.end(), kIndex1.begin(), kIndex1.end());
            indexed.push_back(0);
            std::vector<std::pair<int, Bytes>> expected = {
                {1, Plain(1)}, {2, Plain(2)}, {20, indexed}, {3, Plain(3)}, {4, Plain(4)}};
            std::vector<CNV_ItemHolder> records = brt.records;
            const auto isRefused = [refused](int item) { return item == refused; };
            records.erase(std::remove_if(records.begin(), records.end(),
                                         [&](const CNV_ItemHolder& r) { return isRefused(r.itemNumber); }),
                          records.end());
            expected.erase(
                std::remove_if(expected.begin(), expected.end(), [&](const auto& e) { return isRefused(e.first); }),
                expected.end());
            std::string held;
            for (const CNV_ItemHolder& r : brt.records) held += " " + std::to_string(r.itemNumber);
            need(brt.complete && records.size() == expected.size(), "the BRT holds items" + held);
            for (size_t i = 0; problem.empty() && i < expected.size(); ++i)
                need(records[i].itemNumber == expected[i].first && records[i].Value() == expected[i].second,
                     "BRT record " + std::to_string(i) + " is not item " + std::to_string(expected[i].first) +
                         " with its value");
            break;
        }
        case Flow::Restore:
            device_->WithState([&](sim::DeviceState& s) {
                const CNvMemory& nv = s.Extension<CNvMemory>();
                for (int item : kRestorePlain) {
                    const Bytes& held = nv.DataOf(static_cast<uint16_t>(item));
                    need(item == refused ? OneOf(held, OldPlain(item), NewPlain(item)) : held == NewPlain(item),
                         "item " + std::to_string(item) + " is not new");
                }
                for (size_t k = 0; k < 3; ++k) {
                    const Bytes& held = nv.IndexOf(kRestoreIndexed, k);
                    need(refused == kRestoreIndexed ? OneOf(held, OldIndex(k), NewIndex(k)) : held == NewIndex(k),
                         "index " + std::to_string(k) + " is not new");
                }
            });
            break;
        case Flow::DuckImport:
            device_->WithState([&](sim::DeviceState& s) {
                const CNvMemory& nv = s.Extension<CNvMemory>();
                for (int item : kDuckItems) {
                    const Bytes& held = nv.DataOf(static_cast<uint16_t>(item));
                    need(item == refused ? OneOf(held, OldPlain(item), NewPlain(item)) : held == NewPlain(item),
                         "item " + std::to_string(item) + " is not new");
                }
                auto entry = nv.arrayEntries.find(kDuckArray);
                need(refused == kDuckArray ||
                         (entry != nv.arrayEntries.end() && Slice(entry->second, 0, 128) == kDuckArrayValue),
                     "the ARRAY entry is missing");
                const auto& files = s.Extension<CEfsTree>().files;
                auto file = files.find(kDuckFilePath);
                need(refused == kFileRefused || (file != files.end() && file->second == kDuckFileValue),
                     "the device file is not whole");
            });
            break;
        default: {
            const sim::FlashCheck check = sim::CompareWithSet(sim::SnapshotDownloadTarget(Device()), images_->Set());
            need(check.identical, "flash differs from the files: " + check.detail);
        }
    }
    return problem;
}

std::string FlowRig::LostDataProblem() {
    std::string problem;
    auto need = [&problem](bool ok, const std::string& what) {
        if (!ok) problem += what + "; ";
    };
    switch (flow_) {
        case Flow::Backup: {
            need(test::ReadBytes(dir_.File("nv.brt")) == oldBrt_, "the old BRT file was changed");
            for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
                const std::string name = entry.path().filename().string();
                need(name == "items.csv" || name == "nv.brt", "a file was left behind: " + name);
            }
            break;
        }
        case Flow::Restore:
            device_->WithState([&](sim::DeviceState& s) {
                const CNvMemory& nv = s.Extension<CNvMemory>();
                for (int item : kRestorePlain)
                    need(OneOf(nv.DataOf(static_cast<uint16_t>(item)), OldPlain(item), NewPlain(item)),
                         "item " + std::to_string(item) + " holds neither its old nor its new value");
                for (size_t k = 0; k < 3; ++k)
                    need(OneOf(nv.IndexOf(kRestoreIndexed, k), OldIndex(k), NewIndex(k)),
                         "index " + std::to_string(k) + " holds neither its old nor its new value");
            });
            break;
        case Flow::DuckImport:
            // Device files are opened with truncation, so a failed write may
            // leave one short; the result says so. Items are written whole or not.
            device_->WithState([&](sim::DeviceState& s) {
                const CNvMemory& nv = s.Extension<CNvMemory>();
                for (int item : kDuckItems)
                    need(OneOf(nv.DataOf(static_cast<uint16_t>(item)), OldPlain(item), NewPlain(item)),
                         "item " + std::to_string(item) + " holds neither its old nor its new value");
                auto entry = nv.arrayEntries.find(kDuckArray);
                need(entry == nv.arrayEntries.end() || Slice(entry->second, 0, 128) == kDuckArrayValue,
                     "the ARRAY entry holds another value");
            });
            break;
        default: break;  // a failed download leaves the flash as far as it got
    }
    return problem;
}

}  // namespace fennix::matrix
