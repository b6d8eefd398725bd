// The dialog as a worker reads it: each read runs on the UI thread while the
// worker waits for it.
#pragma once

#include <windows.h>

#include "console/WorkerSequence.h"

namespace tarnwell {

class CTarnwellDlg;

class DialogSlotControls : public SlotControls {
public:
    DialogSlotControls(CTarnwellDlg& dialog, HWND portSelector) : m_dialog(dialog), m_portSelector(portSelector) {}

    int SelectedPortNumber() override;
    RowState ReadRow(ImageRow row) override;
    bool SkipCheckTicked() override;
    std::string CurrentProgrammerPath() override;
    void Warn(const char* text) override;

private:
    CTarnwellDlg& m_dialog;
    HWND m_portSelector;
};

}  // namespace tarnwell
