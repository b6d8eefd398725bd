// A scripted stand-in for the operating system: registry contents, the
// manager window and the disk interfaces are plain fields a test sets; every
// effect the launcher has is recorded. Time moves only through Pause.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "LauncherSystem.h"

namespace quillon::test {

constexpr uint32_t kNoMoreItems = 259;

// Thrown by Pause once its budget is spent, to leave the endless loop.
struct StopLoop : std::runtime_error {
    StopLoop() : std::runtime_error("loop stopped") {}
};

class FakeLauncherSystem final : public ILauncherSystem {
public:
    // ---- what the machine looks like
    bool serialMapExists = true;
    std::vector<std::optional<SerialMapEntry>> serialMap;  // nothing: a value that cannot be read
    std::vector<std::string> modemPortNames;
    InstallPathResult installPath{InstallPathStatus::Read, "C:\\Program Files\\HSPA modem\\Manager.exe"};
    bool managerWindow = false;
    bool diskListRefused = false;
    std::vector<DiskInterfaceStep> diskInterfaces;  // the list's End follows them
    uint32_t diskListEndError = kNoMoreItems;
    uint32_t openError = 0;     // non-zero: opening the disk fails with it
    int pausesBeforeStop = -1;  // negative: never stop

    // ---- what the launcher did
    uint64_t nowMs = 0;
    int serialMapOpenAttempts = 0;
    int windowSearches = 0;
    std::vector<std::pair<std::string, uint64_t>> started;  // path, time
    std::vector<std::string> output;
    std::vector<uint32_t> pauses;
    std::vector<std::string> openedDisks;
    int openDiskHandles = 0;
    int liveDiskLists = 0;
    int diskListsMade = 0;
    int modeSwitchesSent = 0;

    void PlugModem(const std::string& port = "COM7") {
        modemPortNames = {port};
        serialMap = {SerialMapEntry{"\\Device\\QCUSB_COM7_1", port}};
    }
    void UnplugModem() { serialMap.clear(); }

    bool OpenSerialMap() override {
        ++serialMapOpenAttempts;
        serialMapOpen_ = serialMapExists;
        return serialMapOpen_;
    }
    std::optional<uint32_t> CountSerialMapValues() override {
        if (!serialMapOpen_ || !serialMapExists) return std::nullopt;
        return static_cast<uint32_t>(serialMap.size());
    }
    std::optional<SerialMapEntry> ReadSerialMapValue(uint32_t index) override {
        if (index >= serialMap.size()) return std::nullopt;
        return serialMap[index];
    }
    std::vector<std::string> ReadModemPortNames() override { return modemPortNames; }
    InstallPathResult ReadInstallPath() override { return installPath; }
    bool ManagerWindowExists() override {
        ++windowSearches;
        return managerWindow;
    }
    void StartProgram(const std::string& path) override { started.emplace_back(path, nowMs); }

    std::unique_ptr<IDiskInterfaceList> ListDiskInterfaces() override {
        if (diskListRefused) return nullptr;
        ++diskListsMade;
        return std::make_unique<List>(*this);
    }
    DiskOpenResult OpenStorageDisk(const std::string& devicePath) override {
        openedDisks.push_back(devicePath);
        DiskOpenResult result;
        if (openError != 0)
            result.error = openError;
        else
            result.disk = std::make_unique<Disk>(*this);
        return result;
    }
    std::string DescribeError(uint32_t error) override { return "error text " + std::to_string(error) + "\r\n"; }
    void Print(const std::string& text) override { output.push_back(text); }
    void Pause(uint32_t milliseconds) override {
        if (pausesBeforeStop == 0) throw StopLoop();
        if (pausesBeforeStop > 0) --pausesBeforeStop;
        pauses.push_back(milliseconds);
        nowMs += milliseconds;
    }

private:
    class List final : public IDiskInterfaceList {
    public:
        explicit List(FakeLauncherSystem& owner) : owner_(owner), steps_(owner.diskInterfaces) {
            ++owner_.liveDiskLists;
        }
        ~List() override { --owner_.liveDiskLists; }
        DiskInterfaceStep Next() override {
            if (next_ < steps_.size()) return steps_[next_++];
            DiskInterfaceStep end;
            end.kind = DiskInterfaceStep::Kind::End;
            end.error = owner_.diskListEndError;
            return end;
        }

    private:
        FakeLauncherSystem& owner_;
        std::vector<DiskInterfaceStep> steps_;
        size_t next_ = 0;
    };

    class Disk final : public IStorageDisk {
    public:
        explicit Disk(FakeLauncherSystem& owner) : owner_(owner) { ++owner_.openDiskHandles; }
        ~Disk() override { --owner_.openDiskHandles; }
        void SendModeSwitch() override {
            // A request on a disk that is no longer open would be a fault.
            if (owner_.openDiskHandles <= 0) throw std::logic_error("request on a closed disk");
            ++owner_.modeSwitchesSent;
        }

    private:
        FakeLauncherSystem& owner_;
    };

    bool serialMapOpen_ = false;
};

inline DiskInterfaceStep DiskPath(std::string path) {
    DiskInterfaceStep step;
    step.kind = DiskInterfaceStep::Kind::Path;
    step.path = std::move(path);
    return step;
}

inline DiskInterfaceStep DiskStep(DiskInterfaceStep::Kind kind, uint32_t error = 0) {
    DiskInterfaceStep step;
    step.kind = kind;
    step.error = error;
    return step;
}

// A device path of the modem's storage disk as Windows writes them.
inline std::string ModemDiskPath() {
    return "\\\\?\\usbstor#disk&ven_k7m&prod_mmc_storage&rev_2.31#7&1a2b3c4d&0#"
           "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

}  // namespace quillon::test
