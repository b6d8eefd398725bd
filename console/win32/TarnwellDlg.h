// CTarnwellDlg: the operator's dialog. Image rows, MSM model choice and eight
// port slots; the rules it applies come from the portable code in console/.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/ImageRows.h"
#include "console/LogMessage.h"
#include "console/MsmModel.h"
#include "console/SlotCallbacks.h"
#include "console/win32/QTempLogListCtrl.h"
#include "console/win32/SlotWorker.h"

namespace tarnwell {

class CTarnwellDlg {
public:
    explicit CTarnwellDlg(HINSTANCE instance);
    ~CTarnwellDlg();
    CTarnwellDlg(const CTarnwellDlg&) = delete;
    CTarnwellDlg& operator=(const CTarnwellDlg&) = delete;

    // Runs the dialog modally; returns how it was closed.
    INT_PTR DoModal();

    // For the workers (DialogSlotControls): `request` runs on the UI thread
    // while the caller waits. False when the dialog no longer exists.
    bool RunOnUiThread(const std::function<void()>& request);
    bool IsAlive() const { return m_hWnd.load() != nullptr; }

    // UI thread only.
    bool IsRowTicked(ImageRow row) const;
    std::string RowPath(ImageRow row) const;
    bool IsSkipCheckTicked() const;
    std::string ProgrammerPathNow() const { return m_programmerPath; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    bool OnPaintIconic();
    void OnDestroy();

    void OnRowCheckBox(ImageRow row);
    void BrowseForRow(ImageRow row);
    void OnModelChosen(MsmModel model);
    void FillPortSelector(HWND selector);
    std::vector<int> CollectPortNumbers() const;
    void StartSlot(int slot);
    void StartAllSlots();
    void RunNvTest();
    void CloseUnlessRunning(int result);
    bool AnyWorkerRunning() const;
    void Warn(const char* text) const;
    void ShowFileError(unsigned long error) const;

    HINSTANCE m_instance;
    std::atomic<HWND> m_hWnd{nullptr};
    HICON m_hIcon;
    HICON m_hSmallIcon;
    std::string m_startDirectory;
    std::string m_programmerPath;
    std::array<SlotWorker, kSlotCount> m_workers;
    std::array<std::unique_ptr<CLogMessage>, kSlotCount> m_logs;
    std::array<CQTempLogListCtrl, kSlotCount> m_lists;
};

}  // namespace tarnwell
