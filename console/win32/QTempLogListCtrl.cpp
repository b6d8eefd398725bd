#include "console/win32/QTempLogListCtrl.h"

#include <commctrl.h>

#include "console/LogColour.h"
#include "console/win32/UiMessages.h"

namespace tarnwell {

namespace {

constexpr UINT_PTR kSubclassId = 0x7A11;

COLORREF ToColorRef(const Rgb& c) { return RGB(c.red, c.green, c.blue); }

}  // namespace

void CQTempLogListCtrl::Attach(HWND list, CLogMessage* log) {
    m_hWnd = list;
    m_pLogMessage = log;

    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 600;
    char title[] = "INFORMATION";
    column.pszText = title;
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    SetBackground(ToColorRef(kListBlack));
    ListView_SetTextColor(list, ToColorRef(kListText));

    SetWindowSubclass(list, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    log->AttachList(list, &SendAddLine);
}

void CQTempLogListCtrl::SendAddLine(void* listWindow, int entryIndex) {
    // Synchronous: the worker waits until the UI thread has shown the line,
    // so the ring entry cannot be overwritten while the list reads it.
    SendMessageA(static_cast<HWND>(listWindow), kMsgLogAddLine, static_cast<WPARAM>(entryIndex), 0);
}

LRESULT CALLBACK CQTempLogListCtrl::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                 DWORD_PTR self) {
    auto* ctrl = reinterpret_cast<CQTempLogListCtrl*>(self);
    switch (msg) {
        case kMsgLogAddLine: ctrl->OnAddLine(static_cast<int>(wParam)); return 0;
        case kMsgLogClear: ctrl->OnClear(); return 0;
        case WM_NCDESTROY: RemoveWindowSubclass(hwnd, &SubclassProc, kSubclassId); break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void CQTempLogListCtrl::OnAddLine(int entryIndex) {
    if (m_pLogMessage == nullptr || entryIndex < 0 || entryIndex >= CLogMessage::kEntryCount) return;
    const char* text = m_pLogMessage->Entry(entryIndex).text;
    switch (ColourAfterLine(text)) {
        case ListColour::Red: SetBackground(ToColorRef(kListFailed)); break;
        case ListColour::Grey: SetBackground(ToColorRef(kListSucceeded)); break;
        case ListColour::Unchanged: break;
    }
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<char*>(text);
    const int row = static_cast<int>(SendMessageA(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row >= 0) ListView_EnsureVisible(m_hWnd, row, FALSE);
}

void CQTempLogListCtrl::OnClear() {
    SetBackground(ToColorRef(kListBlack));
    ListView_DeleteAllItems(m_hWnd);
}

void CQTempLogListCtrl::SetBackground(COLORREF colour) {
    ListView_SetBkColor(m_hWnd, colour);
    ListView_SetTextBkColor(m_hWnd, colour);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

}  // namespace tarnwell
