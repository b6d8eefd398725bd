#include "console/win32/SlotWorker.h"

#include <process.h>

#include "console/win32/DialogSlotControls.h"
#include "console/win32/ExportSessionCalls.h"
#include "console/WorkerSequence.h"

namespace tarnwell {

SlotWorker::~SlotWorker() {
    // A worker still running at this point is left to end with the process;
    // only the handles are given back.
    if (m_thread != nullptr) CloseHandle(m_thread);
    if (m_runHandle != nullptr) CloseHandle(m_runHandle);
}

bool SlotWorker::IsRunning() const {
    return m_runHandle != nullptr && WaitForSingleObject(m_runHandle, 0) == WAIT_TIMEOUT;
}

void SlotWorker::Release() {
    if (m_runHandle != nullptr) CloseHandle(m_runHandle);
    if (m_thread != nullptr) CloseHandle(m_thread);
    m_runHandle = nullptr;
    m_thread = nullptr;
}

bool SlotWorker::Start(const SlotStartRecord& record) {
    m_record = record;
    unsigned threadId = 0;
    auto thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &SlotWorker::ThreadMain, &m_record, CREATE_SUSPENDED, &threadId));
    if (thread == nullptr) return false;
    HANDLE runHandle = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &runHandle, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        // Without a second handle the thread's own answers the question.
        runHandle = thread;
        thread = nullptr;
    }
    m_thread = thread;
    m_runHandle = runHandle;
    ResumeThread(runHandle);
    return true;
}

unsigned __stdcall SlotWorker::ThreadMain(void* record) {
    const auto* start = static_cast<const SlotStartRecord*>(record);
    DialogSlotControls controls(*start->dialog, start->portSelector);
    ExportSessionCalls engine;
    RunWorkerSequence(controls, engine, start->callback);
    return 0;
}

}  // namespace tarnwell
