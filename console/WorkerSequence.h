// What a slot's worker thread does for one run: read the slot's port and the
// image rows, make an engine session, hand it the paths and run the download.
#pragma once

#include <array>
#include <string>

#include "console/ImageRows.h"
#include "fennix/fennix.h"

namespace tarnwell {

inline constexpr const char* kNoPortLine = "None ComPort Selected";
inline constexpr const char* kNoPartitionMessage = "You cannot download a image without its Partition table file.";
inline constexpr const char* kNoImageMessage = "You do not select a image to download.";

struct RowState {
    bool ticked = false;
    std::string path;  // at most 259 characters
};

// The dialog as a worker sees it. Every read is carried out by the UI thread
// while the worker waits; Warn shows a modal message box on the worker's own
// thread and returns when the operator has dismissed it.
class SlotControls {
public:
    virtual ~SlotControls() = default;
    // The number stored with the selected item, or -1 when nothing is selected.
    virtual int SelectedPortNumber() = 0;
    virtual RowState ReadRow(ImageRow row) = 0;
    virtual bool SkipCheckTicked() = 0;
    virtual std::string CurrentProgrammerPath() = 0;
    virtual void Warn(const char* text) = 0;
};

// The ten paths in the order of SetMbnFile's arguments after the handle.
struct ImagePaths {
    std::array<std::string, kImageRowCount> paths;
    bool anyImageChosen = false;
    const std::string& operator[](ImageRow row) const { return paths[static_cast<int>(row)]; }
};

// The engine's session exports, as the worker calls them.
class SessionCalls {
public:
    virtual ~SessionCalls() = default;
    virtual FennixHandle OpenSession(const char* portName) = 0;  // SetComPort
    virtual void SetCallBack(FennixHandle session, ProgressCallback callback) = 0;
    virtual void SetSkipCheck(FennixHandle session) = 0;
    virtual void SetHexFile(FennixHandle session, const char* programmerPath) = 0;
    virtual void SetMbnFile(FennixHandle session, const ImagePaths& images) = 0;
    virtual void StartDownload(FennixHandle session) = 0;
    virtual void CloseSession(FennixHandle session) = 0;  // Close
};

// "COM" and the number; no selection (-1) gives "COM-1".
std::string PortName(int portNumber);

// Reads the rows after the partition row: a pair's paths only when both of
// its boxes are ticked, any other row's path when its box is ticked; the
// partition path is taken as read. An image counts as chosen by its ticks
// alone, whatever its path holds.
ImagePaths CollectImagePaths(SlotControls& controls, const std::string& partitionPath);

// The whole run of one worker. Every session made is closed again, also when
// the run is refused after the session was made.
void RunWorkerSequence(SlotControls& controls, SessionCalls& engine, ProgressCallback callback);

}  // namespace tarnwell
