// CQTempLogListCtrl: a slot's log list. A report-view list with one column
// that shows the lines of the slot's CLogMessage and takes its colour from
// them: red after a failure line, grey after the success line.
#pragma once

#include <windows.h>

#include "console/LogMessage.h"

namespace tarnwell {

class CQTempLogListCtrl {
public:
    CQTempLogListCtrl() = default;
    CQTempLogListCtrl(const CQTempLogListCtrl&) = delete;
    CQTempLogListCtrl& operator=(const CQTempLogListCtrl&) = delete;

    // Sets the list's appearance and links list and buffer both ways.
    void Attach(HWND list, CLogMessage* log);

    // CLogMessage's way to the list: a synchronous add-line request.
    static void SendAddLine(void* listWindow, int entryIndex);

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    void OnAddLine(int entryIndex);
    void OnClear();
    void SetBackground(COLORREF colour);

    HWND m_hWnd = nullptr;
    CLogMessage* m_pLogMessage = nullptr;  // not owned
};

}  // namespace tarnwell
