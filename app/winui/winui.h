// The small window layer of the dialog program: an application object, a modal dialog base
// with data exchange and a message map, thin control wrappers and the GDI calls the port
// picker draws with. Only what the program uses.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    void Attach(HWND wnd) { m_hWnd = wnd; }
    HWND Detach();
    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    HWND GetDlgItem(int id) const;
    int MessageBox(const std::wstring& text, const std::wstring& caption, UINT type);
    HMENU GetSystemMenu(BOOL revert) const;
    HICON SetIcon(HICON icon, BOOL big);
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;

    // A notification the parent passes back to the child it concerns (owner drawing).
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
};

class CButton : public CWnd {
  public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CStatic : public CWnd {};

class CProgressCtrl : public CWnd {
  public:
    void SetRange32(int lower, int upper);
    int SetPos(int pos);
    int GetPos() const;
};

class CComboBox : public CWnd {
  public:
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    int InsertString(int index, const wchar_t* text);
    int SetItemData(int index, DWORD_PTR data);
    DWORD_PTR GetItemData(int index) const;
    int SetItemHeight(int index, UINT height);
    void GetLBText(int index, std::wstring& text) const;
    void ResetContent();

    virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);
    virtual void MeasureItem(LPMEASUREITEMSTRUCT measureItem);
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CGdiObject {
  public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL DeleteObject();
};

class CBitmap : public CGdiObject {
  public:
    BOOL LoadBitmap(UINT id);
    int GetBitmap(BITMAP* info) const;
    HBITMAP Handle() const { return static_cast<HBITMAP>(m_hObject); }
};

class CPen : public CGdiObject {
  public:
    CPen(int style, int width, COLORREF color);
};

class CBrush : public CGdiObject {
  public:
    explicit CBrush(COLORREF color);
};

// A device context: borrowed from a DRAWITEMSTRUCT or a paint call, or a memory context of
// our own that the destructor deletes.
class CDC {
  public:
    CDC() = default;
    ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;

    void Attach(HDC dc) { m_hDC = dc; }
    HDC Detach();
    BOOL CreateCompatibleDC(const CDC* dc);
    HGDIOBJ SelectObject(HGDIOBJ object);
    HGDIOBJ SelectObject(const CGdiObject* object) { return SelectObject(object->m_hObject); }
    BOOL Rectangle(const RECT& rect);
    COLORREF SetBkColor(COLORREF color);
    COLORREF SetTextColor(COLORREF color);
    BOOL BitBlt(int x, int y, int width, int height, const CDC* source, int xSrc, int ySrc,
                DWORD rop);
    int DrawText(const std::wstring& text, RECT* rect, UINT format);
    void DrawFocusRect(const RECT* rect);
    BOOL DrawIcon(int x, int y, HICON icon);

  private:
    bool m_bOwned = false;
};

class CDialogEx;

class CDataExchange {
  public:
    explicit CDataExchange(CDialogEx* dialog) : m_pDlgWnd(dialog) {}
    CDialogEx* m_pDlgWnd;
};

// Binds a member control to the dialog's child with that id.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// One line of a message map: a message, or WM_COMMAND with a control id and notification code.
template <class T>
struct CMessageMapEntry {
    UINT message;
    UINT id;
    UINT code;
    LRESULT (T::*handler)(WPARAM, LPARAM);
};

#define ON_MESSAGE(message, handler) \
    { message, 0, 0, handler }
#define ON_BN_CLICKED(id, handler) \
    { WM_COMMAND, id, BN_CLICKED, handler }

#define DECLARE_MESSAGE_MAP() \
  protected:                  \
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

#define BEGIN_MESSAGE_MAP(cls, base)                                                  \
    BOOL cls::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) { \
        using ThisClass = cls;                                                        \
        using BaseClass = base;                                                       \
        static const CMessageMapEntry<cls> entries[] = {
#define END_MESSAGE_MAP()                                              \
    }                                                                  \
    ;                                                                  \
    return Dispatch(this, entries, message, wParam, lParam, result) || \
           BaseClass::OnWndMsg(message, wParam, lParam, result);       \
    }

class CDialogEx : public CWnd {
  public:
    explicit CDialogEx(UINT templateId, CWnd* parent = nullptr);
    ~CDialogEx() override;

    virtual INT_PTR DoModal();
    void EndDialog(int result);
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // Called by a handler that wants the system's default processing of its message instead.
    LRESULT Default();
    void BindControl(CWnd* control) { m_controls.push_back(control); }

  protected:
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    template <class T, size_t N>
    BOOL Dispatch(T* self, const CMessageMapEntry<T> (&entries)[N], UINT message, WPARAM wParam,
                  LPARAM lParam, LRESULT* result) {
        for (const CMessageMapEntry<T>& e : entries) {
            if (e.message != message) continue;
            if (message == WM_COMMAND && (e.id != LOWORD(wParam) || e.code != HIWORD(wParam)))
                continue;
            bool outer = m_bDefault;
            m_bDefault = false;
            LRESULT r = (self->*e.handler)(wParam, lParam);
            bool wantsDefault = m_bDefault;
            m_bDefault = outer;
            if (wantsDefault) return FALSE;
            *result = r;
            return TRUE;
        }
        return FALSE;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    std::vector<CWnd*> m_controls;
    bool m_bDefault = false;
    bool m_bEndLoop = false;
    INT_PTR m_nModalResult = -1;
};

class CShellManager {};

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();

    void EnableControlContainer() {}
    void SetRegistryKey(const wchar_t* key) { m_strRegistryKey = key; }

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    std::wstring m_strAppName;  // caption of the application message box
    std::wstring m_strRegistryKey;
};

CWinApp* AfxGetApp();

// The application message box: the application's title as caption, over its main window.
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK);

// Text of a string resource of the program; "" when it has none.
std::wstring LoadResourceString(UINT id);
