#include "console/win32/DialogSlotControls.h"

#include "console/RowRules.h"
#include "console/win32/TarnwellDlg.h"

namespace tarnwell {

// A read that cannot run because the dialog is gone leaves the defaults: no
// port, unticked rows; the sequence then ends without touching a device.

int DialogSlotControls::SelectedPortNumber() {
    int number = -1;
    m_dialog.RunOnUiThread([&] {
        const LRESULT index = SendMessageA(m_portSelector, CB_GETCURSEL, 0, 0);
        if (index != CB_ERR) number = static_cast<int>(SendMessageA(m_portSelector, CB_GETITEMDATA, index, 0));
    });
    return number;
}

RowState DialogSlotControls::ReadRow(ImageRow row) {
    RowState state;
    m_dialog.RunOnUiThread([&] {
        state.ticked = m_dialog.IsRowTicked(row);
        state.path = m_dialog.RowPath(row);
    });
    return state;
}

bool DialogSlotControls::SkipCheckTicked() {
    bool ticked = false;
    m_dialog.RunOnUiThread([&] { ticked = m_dialog.IsSkipCheckTicked(); });
    return ticked;
}

std::string DialogSlotControls::CurrentProgrammerPath() {
    std::string path;
    m_dialog.RunOnUiThread([&] { path = m_dialog.ProgrammerPathNow(); });
    return path;
}

void DialogSlotControls::Warn(const char* text) {
    // Shown by the worker itself and owned by no window: the operator can go
    // on using the dialog while this worker waits for the answer.
    if (m_dialog.IsAlive()) MessageBoxA(nullptr, text, "Tarnwell", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

}  // namespace tarnwell
