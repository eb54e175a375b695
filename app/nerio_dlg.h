// The main dialog: CFX2NDlg in the FX2N deliverable, CFX1SDlg in FX1S and FX1N (named by the
// build through NERIO_DLG_CLASS). Port picker, Download, Clear, progress and results.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/bitmap_picker_combo.h"
#include "platform/cobject.h"
#include "app/winui/winui.h"
#include "res/resource.h"

class CSerialCommandPool;

class NERIO_DLG_CLASS : public CDialogEx {
  public:
    explicit NERIO_DLG_CLASS(CWnd* parent = nullptr);
    ~NERIO_DLG_CLASS() override;

    // Text of a base string id in the dialog's language.
    std::wstring Text(UINT baseId) const;

    // Starter threads of the two jobs; the argument is the dialog. 1 when a command was queued.
    static DWORD WINAPI ThreadDown(LPVOID param);
    static DWORD WINAPI ThreadClear(LPVOID param);

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnInitDialog() override;

    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnClose(WPARAM wParam, LPARAM lParam);
    LRESULT OnBnClickedClose(WPARAM wParam, LPARAM lParam);
    LRESULT OnBnClickedRefresh(WPARAM wParam, LPARAM lParam);
    LRESULT OnBnClickedDownload(WPARAM wParam, LPARAM lParam);
    LRESULT OnBnClickedClear(WPARAM wParam, LPARAM lParam);
    LRESULT OnMsgSerialPool(WPARAM wParam, LPARAM lParam);
    LRESULT OnDownloadParams(WPARAM wParam, LPARAM lParam);
    LRESULT OnProgressRange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDownloadProgress(WPARAM wParam, LPARAM lParam);
    LRESULT OnVerifyProgress(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

  private:
    // Port list (the picker's items, their bitmaps and names, always in registry order).
    void RefillPorts();
    void ReleaseBitmaps();
    static int ProbePort(const std::wstring& name);
    int SelectPort();

    void AttachToPool();
    void ShowResult(CObject* command, int result);
    LRESULT ShowProgress(WPARAM done, LPARAM total, UINT formatId);
    void StartJob(LPTHREAD_START_ROUTINE routine);
    int DialogMessageBox(UINT textId, UINT type);

    HICON m_hIcon;
    CButton m_btnDownload;
    CButton m_btnClose;
    CButton m_btnClear;
    CButton m_chkVerify;
    CProgressCtrl m_progress;
    CStatic m_status;
    CBitmapPickerCombo m_portPicker;
    int m_nLangOffset = 0;
    CButton m_btnRefresh;
    CStatic m_lblPort;
    CStatic m_lblProgress;
    std::vector<CBitmap*> m_portBitmaps;
    std::vector<std::wstring> m_portNames;
    CSerialCommandPool* m_pPool = nullptr;

    // A job runs from the click that starts it until its result (or until its starter thread
    // gives up): further clicks are ignored and a refill leaves the open port alone.
    std::atomic<bool> m_bJobActive{false};
    // Set once the user confirmed the close: late progress or results are dropped.
    std::atomic<bool> m_bClosing{false};
};
