// Whole downloads against virtual devices: a session on the real serial link,
// a synthetic image set, and the lines the session reported.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/SerCOMLibrary.h"
#include "session/QualCmd.h"
#include "session/ExportResults.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingFlash.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::testsupport {

// Pauses and listener times at a twentieth; the reply waits stay long enough
// for a loaded machine or a sanitizer build, so that a slow answer is never
// taken for a lost one.
inline Timeouts DownloadTestTimes() {
    Timeouts t = Timeouts::WithScale(0.05);
    // The mode switches' raw replies (the build ID a DIAG-to-download switch
    // asks first) are waits as well.
    t.rawReplyWait = 1000;
    t.drainFrameWait = 1000;
    t.replyWait = 5000;
    t.streamWriteWait = 2000;
    t.closeImageWait = 5000;
    t.cefsOpenWait = 5000;
    return t;
}

struct ReportedLine {
    std::string text;
    int32_t status;
};

// Lines of the sessions run on this thread.
inline std::vector<ReportedLine>& ThreadLines() {
    thread_local std::vector<ReportedLine> lines;
    return lines;
}

inline void RecordThreadLine(const char* text, int32_t status) { ThreadLines().push_back({text, status}); }

inline std::vector<std::string> TextsWithoutPercent(const std::vector<ReportedLine>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.text.find("% completed.") == std::string::npos) out.push_back(l.text);
    return out;
}

inline bool HasLine(const std::vector<ReportedLine>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l.text == text) return true;
    return false;
}

// A small image set in a private directory, removed with the object.
class TestImageSet {
public:
    explicit TestImageSet(sim::SampleImageSizes sizes = SmallSizes()) {
        static int counter = 0;
        dir_ = (std::filesystem::temp_directory_path() /
                ("fennix-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                   .string();
        set_ = sim::WriteSampleImageSet(dir_, sizes);
    }
    ~TestImageSet() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    static sim::SampleImageSizes SmallSizes() {
        sim::SampleImageSizes s;
        s.programmer = 3000;
        s.qcsblhd = 700;
        s.qcsbl = 5000;
        s.oemsbl = 8192;
        s.amss = 40000;
        s.cefs = 6000;
        return s;
    }
    const sim::SampleImageSet& Set() const { return set_; }
    // Programmer and all ten paths (OBL empty) into the session.
    void Apply(CQualCmd& session) const {
        session.SetProgrammerPath(set_.programmer.c_str());
        session.SetImagePaths(set_.partition.c_str(), "", set_.pbl.c_str(), set_.qcsblhd.c_str(), set_.qcsbl.c_str(),
                              set_.oemsblhd.c_str(), set_.oemsbl.c_str(), set_.amsshd.c_str(), set_.amss.c_str(),
                              set_.cefs.c_str());
    }

private:
    std::string dir_;
    sim::SampleImageSet set_;
};

// A virtual device and a session on its port.
class DownloadRig {
public:
    explicit DownloadRig(sim::DeviceOptions options, const Timeouts& times = DownloadTestTimes())
        : device_(std::move(options)) {
        if (!device_.Ok()) return;
        session_ = std::make_unique<CQualCmd>(std::make_unique<CSerCOMLibrary>(times), times);
        session_->SetPortName(device_.Path().c_str());
        session_->SetCallback(RecordThreadLine);
    }
    bool Ok() const { return device_.Ok() && session_; }
    CQualCmd& Session() { return *session_; }
    sim::CVirtualDevice& Device() { return device_.Device(); }
    sim::DownloadTarget Flash() { return sim::SnapshotDownloadTarget(device_.Device()); }
    void SetKnob(const std::string& name, int64_t value) {
        device_->WithState([&](sim::DeviceState& s) { s.options.knobs[name] = value; });
    }
    int32_t Run() {
        ThreadLines().clear();
        return FlowResultCode(session_->StartDownload());
    }

private:
    sim::CScopedDevice device_;
    std::unique_ptr<CQualCmd> session_;
};

}  // namespace fennix::testsupport
