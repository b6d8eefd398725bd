// A slot's worker thread: started suspended, given a second handle that stays
// valid after the thread has ended so the dialog can ask whether it runs.
#pragma once

#include <windows.h>

#include "fennix/fennix.h"

namespace tarnwell {

class CTarnwellDlg;

// What a worker is given; one per slot, rewritten only while the slot idles.
struct SlotStartRecord {
    CTarnwellDlg* dialog = nullptr;
    ProgressCallback callback = nullptr;
    HWND portSelector = nullptr;
};

class SlotWorker {
public:
    SlotWorker() = default;
    ~SlotWorker();
    SlotWorker(const SlotWorker&) = delete;
    SlotWorker& operator=(const SlotWorker&) = delete;

    bool IsRunning() const;
    // Releases the handles of an earlier run (the slot must not be running).
    void Release();
    // Starts the worker sequence on `record`. False when no thread could be made.
    bool Start(const SlotStartRecord& record);

private:
    static unsigned __stdcall ThreadMain(void* record);

    SlotStartRecord m_record;
    HANDLE m_thread = nullptr;     // the worker
    HANDLE m_runHandle = nullptr;  // its duplicate, asked for "still running"
};

}  // namespace tarnwell
