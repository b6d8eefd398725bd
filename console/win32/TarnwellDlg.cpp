#include "console/win32/TarnwellDlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "console/FileDialogSetup.h"
#include "console/PortSelector.h"
#include "console/RowRules.h"
#include "console/resource.h"
#include "console/win32/AboutDlg.h"
#include "console/win32/UiMessages.h"
#include "fennix/fennix.h"

namespace tarnwell {

namespace {

struct SlotIds {
    int selector;
    int start;
    int list;
};
constexpr SlotIds kSlotIds[kSlotCount] = {
    {IDC_COMBO_SLOT1, IDC_START_SLOT1, IDC_LIST_SLOT1}, {IDC_COMBO_SLOT2, IDC_START_SLOT2, IDC_LIST_SLOT2},
    {IDC_COMBO_SLOT3, IDC_START_SLOT3, IDC_LIST_SLOT3}, {IDC_COMBO_SLOT4, IDC_START_SLOT4, IDC_LIST_SLOT4},
    {IDC_COMBO_SLOT5, IDC_START_SLOT5, IDC_LIST_SLOT5}, {IDC_COMBO_SLOT6, IDC_START_SLOT6, IDC_LIST_SLOT6},
    {IDC_COMBO_SLOT7, IDC_START_SLOT7, IDC_LIST_SLOT7}, {IDC_COMBO_SLOT8, IDC_START_SLOT8, IDC_LIST_SLOT8},
};

constexpr const char* kTitle = "Tarnwell";
constexpr const char* kStillRunningClose = "Download process is still running!!You cant Stop!!";
constexpr const char* kStillRunningStart = "The download process is still running!!";
constexpr size_t kPathBufferSize = kMaxPathLength + 1;

std::string CurrentDirectory() {
    std::vector<char> buffer(MAX_PATH);
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    return std::string(buffer.data(), length < buffer.size() ? length : 0);
}

bool IsNtFamily() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
    return !known || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

CTarnwellDlg::CTarnwellDlg(HINSTANCE instance) : m_instance(instance) {
    m_hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_hSmallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    m_startDirectory = CurrentDirectory();
    m_programmerPath = ProgrammerPath(m_startDirectory, kInitialModel);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        m_logs[slot] = std::make_unique<CLogMessage>();
        BindSlotLog(slot, m_logs[slot].get());
    }
    StartLog();
}

CTarnwellDlg::~CTarnwellDlg() {
    bool workerLeft = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (m_workers[slot].IsRunning()) {
            // The worker is inside the engine and may be writing to a device;
            // cutting it off in mid-call could leave the engine's locks and
            // the heap in any state for the rest of this shutdown. It is left
            // to end with the process, which ends all its threads at once and
            // closes its ports. Its log buffer stays allocated (the worker's
            // callback still points at it) and no longer reaches the list.
            workerLeft = true;
            m_logs[slot]->DetachList();
            m_logs[slot].release();
            continue;
        }
        BindSlotLog(slot, nullptr);
        m_logs[slot]->CloseLogFile();
        m_logs[slot].reset();
    }
    // The engine's log has no lock; closing it under a running worker could
    // pull the file from under its writes. The system closes it at exit.
    if (!workerLeft) EndLog();
    if (m_hSmallIcon != nullptr) DestroyIcon(m_hSmallIcon);
}

INT_PTR CTarnwellDlg::DoModal() {
    return DialogBoxParamA(m_instance, MAKEINTRESOURCEA(IDD_TARNWELL_DIALOG), nullptr, &DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTarnwellDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CTarnwellDlg*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
        self->m_hWnd.store(hwnd);
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CTarnwellDlg*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return self != nullptr ? self->HandleMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CTarnwellDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = m_hWnd.load();
    if (msg >= kMsgStartSlotFirst && msg <= kMsgStartSlotLast) {
        StartSlot(static_cast<int>(msg - kMsgStartSlotFirst));
        return TRUE;
    }
    switch (msg) {
        case kMsgRunOnUiThread:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 1);
            return TRUE;
        case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                ShowAboutBox(m_instance, hwnd);
                SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT: return OnPaintIconic() ? TRUE : FALSE;
        case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_DESTROY: OnDestroy(); return FALSE;
    }
    return FALSE;
}

BOOL CTarnwellDlg::OnInitDialog() {
    HWND hwnd = m_hWnd.load();
    if (HMENU systemMenu = GetSystemMenu(hwnd, FALSE)) {
        char about[64] = {};
        if (LoadStringA(m_instance, IDS_ABOUTBOX, about, sizeof about) > 0) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon ? m_hSmallIcon : m_hIcon));

    EnableWindow(GetDlgItem(hwnd, IDC_START_SLOT1), TRUE);
    EnableWindow(GetDlgItem(hwnd, IDC_BROWSE_CEFS), TRUE);
    EnableWindow(GetDlgItem(hwnd, IDC_BROWSE_PARTITION), TRUE);

    for (int slot = 0; slot < kSlotCount; ++slot) {
        m_lists[slot].Attach(GetDlgItem(hwnd, kSlotIds[slot].list), m_logs[slot].get());
        if (slot == 0) {
            if (m_logs[0]->OpenLogFile(kSlotOneLogFile) != 0) ShowFileError(GetLastError());
        }
    }

    for (const MsmModelInfo& model : MsmModels())
        CheckDlgButton(hwnd, model.controlId, model.model == kInitialModel ? BST_CHECKED : BST_UNCHECKED);

    for (const ImageRowInfo& row : ImageRows()) {
        SetDlgItemTextA(hwnd, row.editId, row.initialPath);
        CheckDlgButton(hwnd, row.checkId, row.tickedAtStart ? BST_CHECKED : BST_UNCHECKED);
    }
    CheckDlgButton(hwnd, IDC_CHECK_SKIP, BST_UNCHECKED);
    return TRUE;
}

void CTarnwellDlg::OnCommand(int id, int code) {
    HWND hwnd = m_hWnd.load();
    if (auto row = RowOfCheckBox(id)) {
        if (code == BN_CLICKED) OnRowCheckBox(*row);
        return;
    }
    if (auto row = RowOfBrowseButton(id)) {
        if (code == BN_CLICKED) BrowseForRow(*row);
        return;
    }
    if (auto model = ModelOfControl(id)) {
        if (code == BN_CLICKED) OnModelChosen(*model);
        return;
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (id == kSlotIds[slot].selector) {
            if (code == CBN_DROPDOWN) FillPortSelector(GetDlgItem(hwnd, id));
            return;
        }
        if (id == kSlotIds[slot].start) {
            if (code == BN_CLICKED) StartSlot(slot);
            return;
        }
    }
    switch (id) {
        case IDC_START_DOWNLOAD:
            if (code == BN_CLICKED) StartAllSlots();
            break;
        case IDC_BUTTON1:
            if (code == BN_CLICKED) RunNvTest();
            break;
        case IDCANCEL:
        case IDOK:  // the Enter key: closes only under the same rule as Cancel
            CloseUnlessRunning(id);
            break;
    }
}

bool CTarnwellDlg::OnPaintIconic() {
    HWND hwnd = m_hWnd.load();
    if (!IsIconic(hwnd)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(hwnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(hwnd, &paint);
    return true;
}

void CTarnwellDlg::OnDestroy() {
    // From here on a worker's requests find no dialog and its lines no list.
    for (int slot = 0; slot < kSlotCount; ++slot) m_logs[slot]->DetachList();
    m_hWnd.store(nullptr);
}

bool CTarnwellDlg::RunOnUiThread(const std::function<void()>& request) {
    HWND hwnd = m_hWnd.load();
    if (hwnd == nullptr) return false;
    return SendMessageA(hwnd, kMsgRunOnUiThread, 0, reinterpret_cast<LPARAM>(&request)) == 1;
}

bool CTarnwellDlg::IsRowTicked(ImageRow row) const {
    return IsDlgButtonChecked(m_hWnd.load(), RowInfo(row).checkId) == BST_CHECKED;
}

std::string CTarnwellDlg::RowPath(ImageRow row) const {
    char buffer[kPathBufferSize] = {};
    GetDlgItemTextA(m_hWnd.load(), RowInfo(row).editId, buffer, sizeof buffer);
    return buffer;
}

bool CTarnwellDlg::IsSkipCheckTicked() const {
    return IsDlgButtonChecked(m_hWnd.load(), IDC_CHECK_SKIP) == BST_CHECKED;
}

void CTarnwellDlg::OnRowCheckBox(ImageRow row) {
    const ImageRow partner = PartnerOf(row);
    RowToggle toggle{row, IsRowTicked(row), false, false, RowPath(row)};
    if (RoleOf(row) == PairRole::Image) toggle.headerTicked = IsRowTicked(partner);
    if (RoleOf(row) == PairRole::Header) toggle.imageTicked = IsRowTicked(partner);

    HWND hwnd = m_hWnd.load();
    switch (DecideRowToggle(toggle)) {
        case RowClickAction::WarnAndTickAgain:
            Warn(kHeaderMissingMessage);
            CheckDlgButton(hwnd, RowInfo(row).checkId, BST_CHECKED);
            break;
        case RowClickAction::WarnAndUntickAgain:
            Warn(kHeaderMissingMessage);
            CheckDlgButton(hwnd, RowInfo(row).checkId, BST_UNCHECKED);
            break;
        case RowClickAction::OpenFileDialog: BrowseForRow(row); break;
        case RowClickAction::Nothing: break;
    }
}

void CTarnwellDlg::BrowseForRow(ImageRow row) {
    const ImageRowInfo& info = RowInfo(row);
    const std::string filter = FileDialogFilter(info);
    char file[kPathBufferSize] = {};
    const std::string initial = InitialFileName(info, RowPath(row));
    lstrcpynA(file, initial.c_str(), sizeof file);

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd.load();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = info.dialogTitle;
    // The working directory stays the start directory: the rows' relative
    // paths and "DownloadOne.txt" keep meaning what they meant at start.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&dialog)) return;
    if (auto path = ChosenRowPath(file)) SetDlgItemTextA(m_hWnd.load(), info.editId, path->c_str());
}

void CTarnwellDlg::OnModelChosen(MsmModel model) {
    HWND hwnd = m_hWnd.load();
    for (const MsmModelInfo& info : MsmModels())
        CheckDlgButton(hwnd, info.controlId, info.model == model ? BST_CHECKED : BST_UNCHECKED);
    m_programmerPath = ProgrammerPath(m_startDirectory, model);
}

std::vector<int> CTarnwellDlg::CollectPortNumbers() const {
    if (IsNtFamily()) {
        std::vector<char> list(kPortListBufferSize, '\0');
        GetComportList(list.data());
        list.back() = '\0';
        return ParsePortList(list.data());
    }
    std::vector<int> numbers;
    for (int n = 1; n <= 255; ++n) {
        const std::string device = "\\\\.\\COM" + std::to_string(n);
        HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const bool opened = port != INVALID_HANDLE_VALUE;
        const DWORD error = opened ? 0 : GetLastError();
        if (opened) CloseHandle(port);
        if (PortProbeCounts(opened, error)) numbers.push_back(n);
    }
    return numbers;
}

void CTarnwellDlg::FillPortSelector(HWND selector) {
    SendMessageA(selector, CB_RESETCONTENT, 0, 0);
    const PortSelectorContent content = tarnwell::FillPortSelector(CollectPortNumbers());
    for (const PortItem& item : content.items) {
        const LRESULT index = SendMessageA(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
        if (index >= 0) SendMessageA(selector, CB_SETITEMDATA, index, item.number);
    }
    // The selector keeps its items in the same text order, so its first item
    // is the content's first.
    if (SendMessageA(selector, CB_GETCURSEL, 0, 0) == CB_ERR)
        SendMessageA(selector, CB_SETCURSEL, content.selectedIndex, 0);

    HWND hwnd = m_hWnd.load();
    for (int id : {IDC_START_SLOT1, IDC_BROWSE_CEFS, IDC_BROWSE_PARTITION})
        EnableWindow(GetDlgItem(hwnd, id), content.portsFound ? TRUE : FALSE);
}

void CTarnwellDlg::StartSlot(int slot) {
    SlotWorker& worker = m_workers[slot];
    if (worker.IsRunning()) {
        Warn(kStillRunningStart);
        return;
    }
    worker.Release();

    CLogMessage& log = *m_logs[slot];
    log.EmptyLogFile();
    if (HWND list = static_cast<HWND>(log.ListWindow())) SendMessageA(list, kMsgLogClear, 0, 0);

    SlotStartRecord record;
    record.dialog = this;
    record.callback = SlotProgressCallback(slot);
    record.portSelector = GetDlgItem(m_hWnd.load(), kSlotIds[slot].selector);
    worker.Start(record);
}

void CTarnwellDlg::StartAllSlots() {
    HWND hwnd = m_hWnd.load();
    for (UINT msg = kMsgStartSlotFirst; msg <= kMsgStartSlotLast; ++msg) PostMessageA(hwnd, msg, 0, 0);
}

void CTarnwellDlg::RunNvTest() {
    FennixHandle session = SetComPort("COM37");
    DuckToNVArray(session, "TV38.du");
    NVArrayToMobile(session);
    Close(session);
}

bool CTarnwellDlg::AnyWorkerRunning() const {
    for (const SlotWorker& worker : m_workers)
        if (worker.IsRunning()) return true;
    return false;
}

void CTarnwellDlg::CloseUnlessRunning(int result) {
    if (AnyWorkerRunning()) {
        Warn(kStillRunningClose);
        return;
    }
    EndDialog(m_hWnd.load(), result);
}

void CTarnwellDlg::Warn(const char* text) const { MessageBoxA(m_hWnd.load(), text, kTitle, MB_OK | MB_ICONWARNING); }

void CTarnwellDlg::ShowFileError(unsigned long error) const {
    char* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    // U.S. English first; a system without those texts gives its own.
    for (DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), 0ul}) {
        if (FormatMessageA(flags, nullptr, error, language, reinterpret_cast<char*>(&text), 0, nullptr) != 0) break;
        text = nullptr;
    }
    MessageBoxA(m_hWnd.load(), text != nullptr ? text : "DownloadOne.txt", kTitle, MB_OK | MB_ICONERROR);
    if (text != nullptr) LocalFree(text);
}

}  // namespace tarnwell
