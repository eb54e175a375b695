#include "app/winui/winui.h"

#include <exception>

#include "platform/debuglog.h"

namespace {

CWinApp* g_app = nullptr;

// The dialog whose window is being created on this thread: the messages that come before
// WM_INITDIALOG (fonts, item measuring) find their object through it.
thread_local CDialogEx* t_creating = nullptr;

// Messages whose answer a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- CWnd ----

HWND CWnd::Detach() {
    HWND wnd = m_hWnd;
    m_hWnd = nullptr;
    return wnd;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const std::wstring& text) {
    ::SetWindowTextW(m_hWnd, text.c_str());
}

std::wstring CWnd::GetWindowText() const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    if (n <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    int got = ::GetWindowTextW(m_hWnd, text.data(), n + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

HWND CWnd::GetDlgItem(int id) const {
    return ::GetDlgItem(m_hWnd, id);
}

int CWnd::MessageBox(const std::wstring& text, const std::wstring& caption, UINT type) {
    return ::MessageBoxW(m_hWnd, text.c_str(), caption.c_str(), type);
}

HMENU CWnd::GetSystemMenu(BOOL revert) const {
    return ::GetSystemMenu(m_hWnd, revert);
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(RECT* rect) const {
    ::GetClientRect(m_hWnd, rect);
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) {
    return FALSE;
}

// ---- controls ----

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK));
}

void CButton::SetCheck(int check) {
    SendMessage(BM_SETCHECK, static_cast<WPARAM>(check));
}

void CProgressCtrl::SetRange32(int lower, int upper) {
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
}

int CProgressCtrl::SetPos(int pos) {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(SendMessage(PBM_GETPOS));
}

int CComboBox::GetCount() const {
    return static_cast<int>(SendMessage(CB_GETCOUNT));
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(SendMessage(CB_GETCURSEL));
}

int CComboBox::SetCurSel(int index) {
    return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
}

int CComboBox::InsertString(int index, const wchar_t* text) {
    return static_cast<int>(
        SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
}

int CComboBox::SetItemData(int index, DWORD_PTR data) {
    return static_cast<int>(
        SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
}

DWORD_PTR CComboBox::GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index)));
}

int CComboBox::SetItemHeight(int index, UINT height) {
    return static_cast<int>(
        SendMessage(CB_SETITEMHEIGHT, static_cast<WPARAM>(index), static_cast<LPARAM>(height)));
}

void CComboBox::GetLBText(int index, std::wstring& text) const {
    text.clear();
    LRESULT n = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (n == CB_ERR || n <= 0) return;
    text.assign(static_cast<size_t>(n) + 1, L'\0');
    LRESULT got = SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index),
                              reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR || got < 0 ? 0 : static_cast<size_t>(got));
}

void CComboBox::ResetContent() {
    SendMessage(CB_RESETCONTENT);
}

void CComboBox::DrawItem(LPDRAWITEMSTRUCT) {}

void CComboBox::MeasureItem(LPMEASUREITEMSTRUCT) {}

BOOL CComboBox::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
    if (message == WM_DRAWITEM) {
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
        *result = TRUE;
        return TRUE;
    }
    if (message == WM_MEASUREITEM) {
        MeasureItem(reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam));
        *result = TRUE;
        return TRUE;
    }
    return FALSE;
}

// ---- GDI ----

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == nullptr) return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL CBitmap::LoadBitmap(UINT id) {
    DeleteObject();
    m_hObject = ::LoadBitmapW(AfxGetApp() ? AfxGetApp()->m_hInstance : ::GetModuleHandleW(nullptr),
                              MAKEINTRESOURCEW(id));
    return m_hObject != nullptr;
}

int CBitmap::GetBitmap(BITMAP* info) const {
    return ::GetObjectW(m_hObject, sizeof(BITMAP), info);
}

CPen::CPen(int style, int width, COLORREF color) {
    m_hObject = ::CreatePen(style, width, color);
}

CBrush::CBrush(COLORREF color) {
    m_hObject = ::CreateSolidBrush(color);
}

CDC::~CDC() {
    if (m_bOwned && m_hDC != nullptr) ::DeleteDC(m_hDC);
}

HDC CDC::Detach() {
    HDC dc = m_hDC;
    m_hDC = nullptr;
    m_bOwned = false;
    return dc;
}

BOOL CDC::CreateCompatibleDC(const CDC* dc) {
    m_hDC = ::CreateCompatibleDC(dc != nullptr ? dc->m_hDC : nullptr);
    m_bOwned = m_hDC != nullptr;
    return m_bOwned;
}

HGDIOBJ CDC::SelectObject(HGDIOBJ object) {
    return ::SelectObject(m_hDC, object);
}

BOOL CDC::Rectangle(const RECT& rect) {
    return ::Rectangle(m_hDC, rect.left, rect.top, rect.right, rect.bottom);
}

COLORREF CDC::SetBkColor(COLORREF color) {
    return ::SetBkColor(m_hDC, color);
}

COLORREF CDC::SetTextColor(COLORREF color) {
    return ::SetTextColor(m_hDC, color);
}

BOOL CDC::BitBlt(int x, int y, int width, int height, const CDC* source, int xSrc, int ySrc,
                 DWORD rop) {
    return ::BitBlt(m_hDC, x, y, width, height, source->m_hDC, xSrc, ySrc, rop);
}

int CDC::DrawText(const std::wstring& text, RECT* rect, UINT format) {
    return ::DrawTextW(m_hDC, text.c_str(), static_cast<int>(text.size()), rect, format);
}

void CDC::DrawFocusRect(const RECT* rect) {
    ::DrawFocusRect(m_hDC, rect);
}

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    return ::DrawIcon(m_hDC, x, y, icon);
}

// ---- dialogs ----

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd != nullptr) return;  // bound by an earlier exchange
    HWND child = pDX->m_pDlgWnd->GetDlgItem(id);
    if (child == nullptr) {
        DebugLog(L"DDX_Control: no control %d (error %u)\n", id, GetLastError());
        return;
    }
    control.Attach(child);
    pDX->m_pDlgWnd->BindControl(&control);
}

CDialogEx::CDialogEx(UINT templateId, CWnd* parent)
    : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialogEx::~CDialogEx() {
    for (CWnd* c : m_controls) c->Detach();
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialogEx::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    HINSTANCE instance =
        AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : GetModuleHandleW(nullptr);
    m_bEndLoop = false;
    m_nModalResult = -1;
    CDialogEx* outer = t_creating;
    t_creating = this;
    HWND wnd = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(m_nIDTemplate), owner, DialogProc,
                                    reinterpret_cast<LPARAM>(this));
    t_creating = outer;
    if (wnd == nullptr) {
        DebugLog(L"DoModal: dialog %u not created (error %u)\n", m_nIDTemplate, GetLastError());
        m_hWnd = nullptr;
        return -1;
    }
    bool ownerDisabled = owner != nullptr && ::IsWindowEnabled(owner);
    if (ownerDisabled) ::EnableWindow(owner, FALSE);
    if (!m_bEndLoop) {
        ::ShowWindow(wnd, SW_SHOW);
        MSG msg;
        while (!m_bEndLoop) {
            BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            if (got == -1) break;
            if (PreTranslateMessage(&msg)) continue;
            if (::IsDialogMessageW(wnd, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (ownerDisabled) ::EnableWindow(owner, TRUE);
    if (owner != nullptr && ::GetActiveWindow() == wnd) ::SetActiveWindow(owner);
    for (CWnd* c : m_controls) c->Detach();
    m_controls.clear();
    ::DestroyWindow(wnd);
    m_hWnd = nullptr;
    return m_nModalResult;
}

void CDialogEx::EndDialog(int result) {
    m_nModalResult = result;
    m_bEndLoop = true;
    if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, SW_HIDE);
    // Wakes the modal loop when the request came from outside a message it dispatched.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialogEx::OnInitDialog() {
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialogEx::DoDataExchange(CDataExchange*) {}

BOOL CDialogEx::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CDialogEx::Default() {
    m_bDefault = true;
    return 0;
}

BOOL CDialogEx::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case WM_INITDIALOG:
            *result = OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
                OnOK();
                *result = 0;
                return TRUE;
            }
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                *result = 0;
                return TRUE;
            }
            return FALSE;
        case WM_DRAWITEM:
        case WM_MEASUREITEM: {
            UINT id = static_cast<UINT>(wParam);
            for (CWnd* c : m_controls) {
                if (c->m_hWnd != nullptr && static_cast<UINT>(::GetDlgCtrlID(c->m_hWnd)) == id)
                    return c->OnChildNotify(message, wParam, lParam, result);
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

INT_PTR CDialogEx::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogEx* self = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(wnd, DWLP_USER));
    if (message == WM_INITDIALOG) self = reinterpret_cast<CDialogEx*>(lParam);
    if (self == nullptr) self = t_creating;
    if (self == nullptr) return FALSE;
    if (self->m_hWnd == nullptr) {
        self->m_hWnd = wnd;
        ::SetWindowLongPtrW(wnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    // No exception leaves a handler into the system's dispatch code.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        DebugLog(L"dialog %u: message %04x: exception %S\n", self->m_nIDTemplate, message,
                 e.what());
    } catch (...) {
        DebugLog(L"dialog %u: message %04x: exception\n", self->m_nIDTemplate, message);
    }
    return FALSE;
}

// ---- application ----

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

CWinApp* AfxGetApp() {
    return g_app;
}

int AfxMessageBox(const std::wstring& text, UINT type) {
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    if (app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd->IsWindow())
        owner = app->m_pMainWnd->m_hWnd;
    // A box without its own icon gets the one the class of boxes uses by default.
    if ((type & MB_ICONMASK) == 0)
        type |= (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL
                    ? MB_ICONQUESTION
                    : MB_ICONEXCLAMATION;
    std::wstring caption = app != nullptr ? app->m_strAppName : std::wstring();
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    HINSTANCE instance =
        AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : GetModuleHandleW(nullptr);
    // With a buffer size of 0 the call hands out a pointer into the resource itself.
    int n = ::LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<size_t>(n));
}

// The program's entry: the application object does its whole work in InitInstance.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return 1;
    app->m_hInstance = instance;
    wchar_t path[MAX_PATH] = {0};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    app->m_strAppName = name;
    app->InitInstance();
    return 0;
}
