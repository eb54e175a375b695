#include "app/nerio_dlg.h"

#include <cwchar>
#include <cwctype>

#include "app/about_dlg.h"
#include "commands/clear_memory.h"
#include "commands/download.h"
#include "commands/messages.h"
#include "commands/serial_command.h"
#include "link/result_codes.h"
#include "package/package.h"
#include "platform/debuglog.h"
#include "profiles/active.h"
#include "res/catalogue.h"
#include "serial/serial_port.h"

namespace {

// GetSystemDefaultLangID of a Chinese (PRC) system; every other language gets English.
constexpr LANGID kLangChinesePrc = 0x0804;

// Base string ids of the texts the dialog shows.
enum : UINT {
    IDS_RESULT_BASE = 20000,
    IDS_CAPTION = 20020,
    IDS_FILE_DAMAGED = 20021,
    IDS_DOWNLOADING_PARAMS = 20022,
    IDS_DOWNLOAD_PROGRESS = 20023,
    IDS_VERIFY_PROGRESS = 20024,
    IDS_DOWNLOAD_AGAIN = 20025,
    IDS_DOWNLOAD_DONE = 20026,
    IDS_DOWNLOAD_FAILED = 20027,
    IDS_CLEAR_AGAIN = 20028,
    IDS_CLEARING = 20029,
    IDS_CONNECTING = 20030,
    IDS_DOWNLOADING = 20031,
    IDS_NO_PORT_AVAILABLE = 20032,
    IDS_SELECT_PORT = 20033,
    IDS_CONFIRM_STOP = 20034,
    IDS_PORT_LABEL = 20035,
    IDS_REFRESH = 20036,
    IDS_PROGRESS_LABEL = 20037,
    IDS_VERIFY = 20038,
    IDS_DOWNLOAD = 20039,
    IDS_CLEAR = 20040,
    IDS_CLOSE = 20041,
    IDS_TITLE = 20042,
};

constexpr int kFirstResultText = 1;
constexpr int kLastResultText = 12;

// Status line buffer: the longest progress text with its percentage fits easily.
constexpr size_t kStatusChars = 128;

// The value names and data of the port list are read into buffers of this size.
constexpr DWORD kRegistryBufferChars = 256;
constexpr DWORD kRegistryBufferBytes = 256;

// "COM3" gives 3, "com12" gives 12, a name without digits gives 0.
int PortNumberOf(const std::wstring& name) {
    std::wstring upper = name;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    for (size_t at = upper.find(L"COM"); at != std::wstring::npos; at = upper.find(L"COM"))
        upper.erase(at, 3);
    return _wtoi(upper.c_str());
}

}  // namespace

BEGIN_MESSAGE_MAP(NERIO_DLG_CLASS, CDialogEx)
ON_MESSAGE(WM_SYSCOMMAND, &ThisClass::OnSysCommand), ON_MESSAGE(WM_PAINT, &ThisClass::OnPaint),
    ON_MESSAGE(WM_QUERYDRAGICON, &ThisClass::OnQueryDragIcon),
    ON_MESSAGE(WM_CLOSE, &ThisClass::OnClose),
    ON_BN_CLICKED(IDC_CLOSE, &ThisClass::OnBnClickedClose),
    ON_BN_CLICKED(IDC_REFRESH, &ThisClass::OnBnClickedRefresh),
    ON_BN_CLICKED(IDC_DOWNLOAD, &ThisClass::OnBnClickedDownload),
    ON_BN_CLICKED(IDC_CLEAR, &ThisClass::OnBnClickedClear),
    ON_MESSAGE(WM_SERIAL_POOL, &ThisClass::OnMsgSerialPool),
    ON_MESSAGE(WM_DOWNLOAD_PARAMS, &ThisClass::OnDownloadParams),
    ON_MESSAGE(WM_PROGRESS_RANGE, &ThisClass::OnProgressRange),
    ON_MESSAGE(WM_DOWNLOAD_PROGRESS, &ThisClass::OnDownloadProgress),
    ON_MESSAGE(WM_VERIFY_PROGRESS, &ThisClass::OnVerifyProgress),
    END_MESSAGE_MAP()

        NERIO_DLG_CLASS::NERIO_DLG_CLASS(CWnd* parent)
    : CDialogEx(IDD_MAIN, parent) {
    m_hIcon = ::LoadIconW(AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : nullptr,
                          MAKEINTRESOURCEW(IDR_MAINFRAME));
}

NERIO_DLG_CLASS::~NERIO_DLG_CLASS() {
    ReleaseBitmaps();
    // A dialog that ended at its gate never went through the close handling.
    if (m_pPool != nullptr && !m_bClosing) m_pPool->Stop(TRUE);
}

std::wstring NERIO_DLG_CLASS::Text(UINT baseId) const {
    return LoadResourceString(baseId + static_cast<UINT>(m_nLangOffset));
}

int NERIO_DLG_CLASS::DialogMessageBox(UINT textId, UINT type) {
    return MessageBox(Text(textId), Text(IDS_CAPTION), type);
}

void NERIO_DLG_CLASS::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DOWNLOAD, m_btnDownload);
    DDX_Control(pDX, IDC_CLOSE, m_btnClose);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_STATUS, m_status);
    DDX_Control(pDX, IDC_PORT_PICKER, m_portPicker);
    DDX_Control(pDX, IDC_CLEAR, m_btnClear);
    DDX_Control(pDX, IDC_VERIFY, m_chkVerify);
    DDX_Control(pDX, IDC_REFRESH, m_btnRefresh);
    DDX_Control(pDX, IDC_PORT_LABEL, m_lblPort);
    DDX_Control(pDX, IDC_PROGRESS_LABEL, m_lblProgress);
}

BOOL NERIO_DLG_CLASS::PreTranslateMessage(MSG* msg) {
    // Neither Enter nor Escape ends this dialog.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialogEx::PreTranslateMessage(msg);
}

BOOL NERIO_DLG_CLASS::OnInitDialog() {
    CDialogEx::OnInitDialog();

    if (HMENU sysMenu = GetSystemMenu(FALSE)) {
        std::wstring about = LoadResourceString(IDS_ABOUTBOX);  // Chinese in both languages
        if (!about.empty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_nLangOffset = ::GetSystemDefaultLangID() == kLangChinesePrc ? kChineseOffset : kEnglishOffset;
    m_lblPort.SetWindowText(Text(IDS_PORT_LABEL));
    m_lblProgress.SetWindowText(Text(IDS_PROGRESS_LABEL));
    m_btnRefresh.SetWindowText(Text(IDS_REFRESH));
    m_chkVerify.SetWindowText(Text(IDS_VERIFY));
    m_btnDownload.SetWindowText(Text(IDS_DOWNLOAD));
    m_btnClear.SetWindowText(Text(IDS_CLEAR));
    m_btnClose.SetWindowText(Text(IDS_CLOSE));
    SetWindowText(Text(IDS_TITLE));

    AttachToPool();
    RefillPorts();

    m_btnDownload.EnableWindow(TRUE);
    m_btnClose.EnableWindow(FALSE);

    if (!CheckImageIntegrity()) {
        DialogMessageBox(IDS_FILE_DAMAGED, MB_ICONINFORMATION | MB_OK);
        EndDialog(IDOK);
        return FALSE;
    }
    return TRUE;
}

LRESULT NERIO_DLG_CLASS::OnSysCommand(WPARAM wParam, LPARAM) {
    if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
        return 0;
    }
    return Default();
}

LRESULT NERIO_DLG_CLASS::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic()) return Default();
    PAINTSTRUCT ps;
    CDC dc;
    dc.Attach(::BeginPaint(m_hWnd, &ps));
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
    dc.Detach();
    ::EndPaint(m_hWnd, &ps);
    return 0;
}

LRESULT NERIO_DLG_CLASS::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

LRESULT NERIO_DLG_CLASS::OnBnClickedClose(WPARAM, LPARAM) {
    SendMessage(WM_CLOSE);
    return 0;
}

LRESULT NERIO_DLG_CLASS::OnClose(WPARAM, LPARAM) {
    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    if (pool != nullptr && pool->m_bDownloading) {
        if (DialogMessageBox(IDS_CONFIRM_STOP, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) return 0;
    }
    // From here on the worker may still deliver a message while the pool stops: drop it.
    m_bClosing = true;
    ReleaseBitmaps();
    if (pool != nullptr) pool->Stop(TRUE);
    return Default();
}

LRESULT NERIO_DLG_CLASS::OnBnClickedRefresh(WPARAM, LPARAM) {
    RefillPorts();
    return 0;
}

// ---- port list ----

void NERIO_DLG_CLASS::ReleaseBitmaps() {
    // The items keep no address of a bitmap that is gone.
    if (m_portPicker.IsWindow())
        for (int i = 0; i < m_portPicker.GetCount(); ++i) m_portPicker.SetItemData(i, 0);
    for (CBitmap*& bitmap : m_portBitmaps) {
        bitmap->DeleteObject();
        delete bitmap;
        bitmap = nullptr;
    }
    m_portBitmaps.clear();
    m_portNames.clear();
}

int NERIO_DLG_CLASS::ProbePort(const std::wstring& name) {
    if (name.empty()) return 0;
    std::wstring path = L"\\\\.\\" + name;
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    ::CloseHandle(h);
    return 1;
}

void NERIO_DLG_CLASS::RefillPorts() {
    m_portPicker.ResetContent();
    // The port of a running job belongs to the worker until the job ends.
    const bool jobHoldsPort = m_bJobActive && theSerialPort.IsOpen();
    if (!jobHoldsPort && theSerialPort.IsOpen()) theSerialPort.Close();
    ReleaseBitmaps();

    int available = 0;
    HKEY key = nullptr;
    LSTATUS opened =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Hardware\\DeviceMap\\SerialComm", 0, KEY_READ, &key);
    if (opened == ERROR_SUCCESS) {
        wchar_t valueName[kRegistryBufferChars];
        BYTE data[kRegistryBufferBytes + sizeof(wchar_t)];
        for (DWORD index = 0;; ++index) {
            DWORD nameChars = kRegistryBufferChars;
            DWORD dataBytes = kRegistryBufferBytes;
            if (::RegEnumValueW(key, index, valueName, &nameChars, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS)
                break;
            DWORD type = 0;
            if (::RegQueryValueExW(key, valueName, nullptr, &type, data, &dataBytes) !=
                ERROR_SUCCESS)
                continue;
            const wchar_t* chars = reinterpret_cast<const wchar_t*>(data);
            std::wstring name(chars, ::wcsnlen(chars, dataBytes / sizeof(wchar_t)));
            bool openable = (jobHoldsPort && PortNumberOf(name) == SelectedPort) || ProbePort(name);
            CBitmap* bitmap = new CBitmap;
            bitmap->LoadBitmap(openable ? IDB_PORT_AVAILABLE : IDB_PORT_UNAVAILABLE);
            if (openable) ++available;
            m_portBitmaps.push_back(bitmap);
            m_portNames.push_back(name);
        }
        ::RegCloseKey(key);
    } else {
        DebugLog(L"SerialComm key not opened (error %d)\n", static_cast<int>(opened));
    }

    for (size_t i = 0; i < m_portNames.size(); ++i) {
        int item = m_portPicker.InsertString(m_portPicker.GetCount(), m_portNames[i].c_str());
        if (item == CB_ERR || item == CB_ERRSPACE) continue;
        m_portPicker.SetItemData(item, reinterpret_cast<DWORD_PTR>(m_portBitmaps[i]));
        BITMAP info = {};
        m_portBitmaps[i]->GetBitmap(&info);
        m_portPicker.InsertBitmap(info.bmWidth, info.bmHeight);
    }

    if (available > 0)
        m_portPicker.SetCurSel(0);
    else
        DialogMessageBox(IDS_NO_PORT_AVAILABLE, MB_ICONEXCLAMATION);
}

int NERIO_DLG_CLASS::SelectPort() {
    int selected = m_portPicker.GetCurSel();
    if (selected == CB_ERR) {
        DialogMessageBox(IDS_SELECT_PORT, MB_ICONEXCLAMATION);
        return 0;
    }
    std::wstring text;
    m_portPicker.GetLBText(selected, text);
    SelectedPort = PortNumberOf(text);
    return USB_OpenSP();
}

// ---- jobs ----

void NERIO_DLG_CLASS::AttachToPool() {
    if (m_pPool == nullptr) {
        m_pPool = CSerialCommandPool::GetInstance();
        if (m_pPool != nullptr) m_pPool->Start();
    }
    if (m_pPool != nullptr) m_pPool->m_hNotifyWnd = m_hWnd;
}

void NERIO_DLG_CLASS::StartJob(LPTHREAD_START_ROUTINE routine) {
    // One click, one job: a click before the starter thread has disabled the buttons is ignored.
    if (m_bJobActive.exchange(true)) return;
    HANDLE thread = ::CreateThread(nullptr, 0, routine, this, 0, nullptr);
    if (thread == nullptr) {
        DebugLog(L"CreateThread failed (error %u)\n", ::GetLastError());
        m_bJobActive = false;
        return;
    }
    ::CloseHandle(thread);
}

LRESULT NERIO_DLG_CLASS::OnBnClickedDownload(WPARAM, LPARAM) {
    StartJob(ThreadDown);
    return 0;
}

LRESULT NERIO_DLG_CLASS::OnBnClickedClear(WPARAM, LPARAM) {
    StartJob(ThreadClear);
    return 0;
}

DWORD WINAPI NERIO_DLG_CLASS::ThreadDown(LPVOID param) {
    const tagProfileTraits& profile = ActiveProfile();
    if (profile.tracesThreadDown) DebugPrint(L"[DOWNLOAD] ThreadDown initport");
    auto* dlg = static_cast<NERIO_DLG_CLASS*>(param);
    if (dlg == nullptr || !dlg->IsWindow()) return 0;
    if (!dlg->SelectPort()) {
        dlg->m_bJobActive = false;
        return 0;
    }

    CPackageReader reader;
    uint8_t* body = reader.read(profile);
    if (body == nullptr) {
        // A package that does not fit its image is refused before anything reaches a PLC.
        if (reader.status == PackageStatus::Damaged)
            dlg->DialogMessageBox(IDS_FILE_DAMAGED, MB_ICONINFORMATION | MB_OK);
        dlg->m_bJobActive = false;
        return 0;
    }
    if (profile.tracesThreadDown) DebugPrint(L"[DOWNLOAD] pmw size: %d", reader.pmwsize);

    BOOL verify = dlg->m_chkVerify.SendMessage(BM_GETCHECK) == BST_CHECKED;
    dlg->m_btnDownload.SetWindowText(dlg->Text(IDS_CONNECTING));
    dlg->m_btnDownload.EnableWindow(FALSE);
    dlg->m_btnClear.EnableWindow(FALSE);
    dlg->m_btnClose.EnableWindow(TRUE);

    Unscramble(body, reader.pmwsize);
    uint32_t programLength = ProgramLengthForSizeClass(profile, body[kBodyParamOffset]);
    tagModelProfile model = profile.model;
    if (profile.showsDownloadingText) dlg->m_btnDownload.SetWindowText(dlg->Text(IDS_DOWNLOADING));
    dlg->m_btnDownload.EnableWindow(FALSE);

    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    if (pool != nullptr)
        pool->AddDownloadCommand(dlg->m_hWnd, model, body + kBodyProgramOffset, programLength,
                                 body + kBodyParamOffset, programLength, verify);
    delete[] body;
    return 1;
}

DWORD WINAPI NERIO_DLG_CLASS::ThreadClear(LPVOID param) {
    auto* dlg = static_cast<NERIO_DLG_CLASS*>(param);
    if (dlg == nullptr || !dlg->IsWindow()) return 0;
    if (!dlg->SelectPort()) {
        dlg->m_bJobActive = false;
        return 0;
    }
    dlg->m_btnDownload.EnableWindow(FALSE);
    dlg->m_btnClear.EnableWindow(FALSE);
    dlg->m_btnClear.SetWindowText(dlg->Text(IDS_CLEARING));
    dlg->m_btnClose.EnableWindow(TRUE);
    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    if (pool != nullptr) pool->AddClearMemoryCommand();
    return 1;
}

LRESULT NERIO_DLG_CLASS::OnMsgSerialPool(WPARAM wParam, LPARAM lParam) {
    if (m_bClosing) return 0;
    auto* command = reinterpret_cast<CSerialCommandBase*>(wParam);
    bool valid = command != nullptr && (command->m_nState == 0 || command->m_nState == 1) &&
                 command->m_hNotifyWnd != nullptr &&
                 ::IsWindow(static_cast<HWND>(command->m_hNotifyWnd)) &&
                 command->GetRuntimeClass() != nullptr;
    if (!valid) {
        DebugLog(L"CMainFrame::OnMsgSerialPool failed : IsValid %08x",
                 static_cast<unsigned>(wParam));
        return 0;
    }
    try {
        ShowResult(command, static_cast<int>(lParam));
    } catch (...) {
        DebugLog(L"OnMsgSerialPool: showing the result failed\n");
    }
    return 1;
}

void NERIO_DLG_CLASS::ShowResult(CObject* command, int result) {
    std::wstring codeText;
    if (result >= kFirstResultText && result <= kLastResultText)
        codeText = Text(IDS_RESULT_BASE + static_cast<UINT>(result));
    if (command->IsKindOf(RUNTIME_CLASS(CSerialCommandDownload))) {
        m_btnDownload.SetWindowText(Text(IDS_DOWNLOAD_AGAIN));
        m_btnDownload.EnableWindow(TRUE);
        m_btnClear.EnableWindow(TRUE);
        m_btnClose.EnableWindow(FALSE);
        m_bJobActive = false;
        AfxMessageBox(result == CMD_RESULT_OK ? Text(IDS_DOWNLOAD_DONE)
                                              : Text(IDS_DOWNLOAD_FAILED) + codeText);
    } else if (command->IsKindOf(RUNTIME_CLASS(CSerialCommandClearMemory))) {
        m_btnDownload.EnableWindow(TRUE);
        m_btnClear.EnableWindow(TRUE);
        m_btnClear.SetWindowText(Text(IDS_CLEAR_AGAIN));
        m_btnClose.EnableWindow(FALSE);
        m_bJobActive = false;
        AfxMessageBox(codeText);
    }
}

LRESULT NERIO_DLG_CLASS::OnDownloadParams(WPARAM, LPARAM) {
    if (m_bClosing) return 0;
    m_status.SetWindowText(Text(IDS_DOWNLOADING_PARAMS));
    return 1;
}

LRESULT NERIO_DLG_CLASS::OnProgressRange(WPARAM wParam, LPARAM lParam) {
    if (m_bClosing) return 0;
    m_progress.SetRange32(static_cast<int>(wParam), static_cast<int>(lParam));
    m_progress.SetPos(0);
    return 1;
}

LRESULT NERIO_DLG_CLASS::ShowProgress(WPARAM done, LPARAM total, UINT formatId) {
    if (m_bClosing) return 0;
    if (m_progress.IsWindow()) m_progress.SetPos(static_cast<int>(done));
    if (!m_status.IsWindow()) return 0;
    // Percentages in unsigned 32-bit arithmetic, truncated; a total of 0 shows 0%.
    uint32_t d = static_cast<uint32_t>(done);
    uint32_t t = static_cast<uint32_t>(total);
    uint32_t percent = t == 0 ? 0 : d * 100u / t;
    wchar_t text[kStatusChars];
    std::swprintf(text, kStatusChars, Text(formatId).c_str(), percent);
    m_status.SetWindowText(text);
    return 1;
}

LRESULT NERIO_DLG_CLASS::OnDownloadProgress(WPARAM wParam, LPARAM lParam) {
    return ShowProgress(wParam, lParam, IDS_DOWNLOAD_PROGRESS);
}

LRESULT NERIO_DLG_CLASS::OnVerifyProgress(WPARAM wParam, LPARAM lParam) {
    return ShowProgress(wParam, lParam, IDS_VERIFY_PROGRESS);
}
