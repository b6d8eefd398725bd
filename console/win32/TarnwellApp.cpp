#include "console/win32/TarnwellApp.h"

#include <commctrl.h>

#include "console/win32/TarnwellDlg.h"

namespace tarnwell {

int CTarnwellApp::Run() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    CTarnwellDlg dialog(m_instance);
    dialog.DoModal();
    return 0;
}

}  // namespace tarnwell

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tarnwell::CTarnwellApp app(instance);
    return app.Run();
}
