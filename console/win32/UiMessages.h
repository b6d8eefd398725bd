// Private window messages of Tarnwell.
#pragma once

#include <windows.h>

namespace tarnwell {

// To a slot's log list: show entry wParam of its log buffer / clear the list.
constexpr UINT kMsgLogAddLine = 0x0C02;
constexpr UINT kMsgLogClear = 0x0C03;

// To the dialog: start slot (message - kMsgStartSlotFirst), posted eight at a
// time by "START DOWNLOAD".
constexpr UINT kMsgStartSlotFirst = 0x1400;
constexpr UINT kMsgStartSlotLast = 0x1407;

// To the dialog, sent by a worker: run the std::function<void()> at lParam on
// the UI thread and answer 1.
constexpr UINT kMsgRunOnUiThread = WM_APP + 0x100;

}  // namespace tarnwell
