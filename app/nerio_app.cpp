#include "app/nerio_app.h"

#include "app/nerio_dlg.h"
#include "platform/platform.h"

NERIO_APP_CLASS theApp;

BOOL NERIO_APP_CLASS::InitInstance() {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    EnableControlContainer();
    CShellManager* shellManager = new CShellManager;
    SetRegistryKey(L"应用程序向导生成的本地应用程序");
    // The link layer's own message goes through the same box as the command results.
    platform::SetAppMessageBoxSink([](const std::wstring& text) { AfxMessageBox(text); });

    NERIO_DLG_CLASS dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    delete shellManager;
    return FALSE;
}
