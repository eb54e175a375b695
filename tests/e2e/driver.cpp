// Drives a running downloader from a second process: finds its dialog and message boxes,
// reads captions, texts and states, ticks, clicks and answers. Steps come as arguments and
// run in order; each prints what it saw as UTF-8 lines. Exit 1 when a wait runs out.
//
//   wait-main MS            the main dialog (caption "[Nerio...") appears
//   title                   "title: <caption>"
//   state                   "ctl <id> enabled=<0|1> text=<text>" for controls 1000..1009
//   text ID | enabled ID    one control
//   ports                   "ports: count=<n> sel=<i>", then "port <i> <text> data=<bitmap>"
//   select I                selects item I of the port picker
//   rect ID                 "rect ID: left top right bottom", screen coordinates of a control
//   check ID 0|1            sets a check box
//   click ID                posts BM_CLICK to a control of the main dialog
//   key ID VK               posts WM_KEYDOWN VK to a control of the main dialog
//   sys CMD                 posts WM_SYSCOMMAND CMD to the main dialog
//   sysmenu                 "sysmenu <i> <text>" for the last two items of the system menu
//   close                   posts WM_CLOSE to the main dialog
//   send MSG WPARAM LPARAM  sends a message to the main dialog: "send MSG: <answer>"
//   menu-last               opens the system menu from the keyboard, highlights its last item
//   menu-enter              chooses the highlighted item of the open menu
//   wait-box MS             a message box (or other dialog) besides the main one appears:
//                           "box caption: ...", "box text: ..."
//   answer ID               clicks button ID of the last box
//   no-box MS               fails if a box appears within MS
//   wait-text ID TEXT MS    the control's text contains TEXT (ASCII)
//   wait-enabled ID 0|1 MS  the control reaches that enabled state
//   wait-gone MS            the main dialog is gone
//   sleep MS
//   langid                  "langid: 0x...."
//   string EXE ID           "string ID: <text>", string resource ID of the program file EXE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// How often the waits look again.
constexpr DWORD kPollMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF;

HWND g_main = nullptr;
HWND g_box = nullptr;

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

void Out(const std::string& line) {
    std::string l = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), l.data(), static_cast<DWORD>(l.size()), &written,
              nullptr);
}

std::wstring WindowText(HWND wnd) {
    wchar_t buf[1024] = {0};
    // WM_GETTEXT works across processes where GetWindowTextW of a control would not.
    SendMessageTimeoutW(wnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    return buf;
}

std::string OneLine(std::wstring t) {
    for (wchar_t& c : t)
        if (c == L'\r' || c == L'\n') c = L' ';
    return Utf8(t);
}

HWND FindMain() {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr) {
        if (WindowText(w).rfind(L"[Nerio", 0) == 0 && GetDlgItem(w, 1003) != nullptr) return w;
    }
    return nullptr;
}

HWND FindBox() {
    if (g_main == nullptr) g_main = FindMain();
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr) {
        if (w != g_main && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

bool Wait(DWORD ms, bool (*done)(void*), void* arg) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done(arg)) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(kPollMs);
    }
}

HWND Control(int id) {
    return GetDlgItem(g_main, id);
}

int Fail(const std::string& what) {
    Out("FAILED " + what);
    return 1;
}

struct TextWait {
    int id;
    std::wstring text;
};

struct EnabledWait {
    int id;
    bool enabled;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> a(argv + 1, argv + argc);
    size_t i = 0;
    auto next = [&]() -> std::wstring { return i < a.size() ? a[i++] : std::wstring(); };
    auto nextInt = [&]() { return static_cast<int>(wcstol(next().c_str(), nullptr, 0)); };
    while (i < a.size()) {
        std::wstring op = next();
        if (op == L"wait-main") {
            DWORD ms = static_cast<DWORD>(nextInt());
            if (!Wait(
                    ms, [](void*) { return (g_main = FindMain()) != nullptr; }, nullptr))
                return Fail("wait-main");
        } else if (g_main == nullptr && op != L"sleep" && op != L"langid" && op != L"wait-box" &&
                   op != L"no-box" && op != L"answer" && op != L"string") {
            g_main = FindMain();
            if (g_main == nullptr) return Fail("no main dialog for " + Utf8(op));
        }
        if (op == L"wait-main") {
        } else if (op == L"title") {
            Out("title: " + OneLine(WindowText(g_main)));
        } else if (op == L"state") {
            for (int id = 1000; id <= 1009; ++id) {
                HWND c = Control(id);
                Out("ctl " + std::to_string(id) + " enabled=" + (IsWindowEnabled(c) ? "1" : "0") +
                    " text=" + OneLine(WindowText(c)));
            }
        } else if (op == L"text") {
            int id = nextInt();
            Out("text " + std::to_string(id) + ": " + OneLine(WindowText(Control(id))));
        } else if (op == L"enabled") {
            int id = nextInt();
            Out("enabled " + std::to_string(id) + ": " +
                (IsWindowEnabled(Control(id)) ? "1" : "0"));
        } else if (op == L"ports") {
            HWND c = Control(1000);
            int n = static_cast<int>(SendMessageW(c, CB_GETCOUNT, 0, 0));
            int sel = static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0));
            Out("ports: count=" + std::to_string(n) + " sel=" + std::to_string(sel));
            for (int k = 0; k < n; ++k) {
                wchar_t buf[256] = {0};
                SendMessageW(c, CB_GETLBTEXT, static_cast<WPARAM>(k),
                             reinterpret_cast<LPARAM>(buf));
                LRESULT data = SendMessageW(c, CB_GETITEMDATA, static_cast<WPARAM>(k), 0);
                LRESULT height = SendMessageW(c, CB_GETITEMHEIGHT, static_cast<WPARAM>(k), 0);
                char hex[32];
                std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(data));
                Out("port " + std::to_string(k) + " " + Utf8(buf) + " data=" + hex +
                    " height=" + std::to_string(height));
            }
            Out("ports: field height=" +
                std::to_string(SendMessageW(c, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0)));
        } else if (op == L"rect") {
            int id = nextInt();
            RECT r = {};
            GetWindowRect(Control(id), &r);
            Out("rect " + std::to_string(id) + ": " + std::to_string(r.left) + " " +
                std::to_string(r.top) + " " + std::to_string(r.right) + " " +
                std::to_string(r.bottom));
        } else if (op == L"select") {
            SendMessageW(Control(1000), CB_SETCURSEL, static_cast<WPARAM>(nextInt()), 0);
        } else if (op == L"check") {
            int id = nextInt();
            int v = nextInt();
            SendMessageW(Control(id), BM_SETCHECK, static_cast<WPARAM>(v), 0);
        } else if (op == L"click") {
            PostMessageW(Control(nextInt()), BM_CLICK, 0, 0);
        } else if (op == L"key") {
            int id = nextInt();
            int vk = nextInt();
            PostMessageW(Control(id), WM_KEYDOWN, static_cast<WPARAM>(vk), 1);
            PostMessageW(Control(id), WM_KEYUP, static_cast<WPARAM>(vk), 0xC0000001);
        } else if (op == L"sys") {
            PostMessageW(g_main, WM_SYSCOMMAND, static_cast<WPARAM>(nextInt()), 0);
        } else if (op == L"sysmenu") {
            HMENU m = GetSystemMenu(g_main, FALSE);
            int n = m != nullptr ? GetMenuItemCount(m) : -1;
            Out("sysmenu count=" + std::to_string(n));
            for (int k = n >= 2 ? n - 2 : 0; k < n; ++k) {
                wchar_t buf[256] = {0};
                GetMenuStringW(m, static_cast<UINT>(k), buf, 256, MF_BYPOSITION);
                UINT id = GetMenuItemID(m, k);
                Out("sysmenu " + std::to_string(k) + " id=" + std::to_string(static_cast<int>(id)) +
                    " text=" + Utf8(buf));
            }
        } else if (op == L"send") {
            UINT msg = static_cast<UINT>(nextInt());
            WPARAM wp = static_cast<WPARAM>(nextInt());
            LPARAM lp = static_cast<LPARAM>(nextInt());
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(g_main, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &answer);
            Out("send " + std::to_string(msg) + ": " + std::to_string(answer));
        } else if (op == L"menu-last" || op == L"menu-enter") {
            if (op == L"menu-last") PostMessageW(g_main, WM_SYSCOMMAND, SC_KEYMENU, L' ');
            HWND menu = nullptr;
            if (!Wait(
                    5000,
                    [](void* p) {
                        HWND m = FindWindowExW(nullptr, nullptr, L"#32768", nullptr);
                        *static_cast<HWND*>(p) = m;
                        return m != nullptr && IsWindowVisible(m);
                    },
                    &menu))
                return Fail("no system menu");
            Sleep(kPollMs);
            // From the first item, Up wraps round to the last one.
            WPARAM key = op == L"menu-last" ? VK_UP : VK_RETURN;
            PostMessageW(menu, WM_KEYDOWN, key, 1);
            PostMessageW(menu, WM_KEYUP, key, 0xC0000001);
        } else if (op == L"close") {
            PostMessageW(g_main, WM_CLOSE, 0, 0);
        } else if (op == L"wait-box") {
            DWORD ms = static_cast<DWORD>(nextInt());
            if (!Wait(
                    ms, [](void*) { return (g_box = FindBox()) != nullptr; }, nullptr))
                return Fail("wait-box");
            // The box fills its text right after it appears.
            Sleep(kPollMs);
            Out("box caption: " + OneLine(WindowText(g_box)));
            Out("box text: " + OneLine(WindowText(GetDlgItem(g_box, kMessageBoxTextId))));
        } else if (op == L"answer") {
            int id = nextInt();
            if (g_box == nullptr) g_box = FindBox();
            HWND b = g_box != nullptr ? GetDlgItem(g_box, id) : nullptr;
            if (b == nullptr) return Fail("answer: no button " + std::to_string(id));
            PostMessageW(b, BM_CLICK, 0, 0);
            HWND box = g_box;
            if (!Wait(
                    5000, [](void* w) { return !IsWindow(static_cast<HWND>(w)); }, box))
                return Fail("answer: box stays");
            g_box = nullptr;
        } else if (op == L"no-box") {
            DWORD ms = static_cast<DWORD>(nextInt());
            if (Wait(
                    ms, [](void*) { return (g_box = FindBox()) != nullptr; }, nullptr)) {
                Out("box caption: " + OneLine(WindowText(g_box)));
                Out("box text: " + OneLine(WindowText(GetDlgItem(g_box, kMessageBoxTextId))));
                return Fail("no-box");
            }
        } else if (op == L"wait-text") {
            TextWait w{nextInt(), next()};
            DWORD ms = static_cast<DWORD>(nextInt());
            if (!Wait(
                    ms,
                    [](void* p) {
                        auto* t = static_cast<TextWait*>(p);
                        return WindowText(Control(t->id)).find(t->text) != std::wstring::npos;
                    },
                    &w))
                return Fail("wait-text " + std::to_string(w.id) + " " + Utf8(w.text) + " (is " +
                            OneLine(WindowText(Control(w.id))) + ")");
        } else if (op == L"wait-enabled") {
            EnabledWait w{nextInt(), nextInt() != 0};
            DWORD ms = static_cast<DWORD>(nextInt());
            if (!Wait(
                    ms,
                    [](void* p) {
                        auto* e = static_cast<EnabledWait*>(p);
                        return (IsWindowEnabled(Control(e->id)) != 0) == e->enabled;
                    },
                    &w))
                return Fail("wait-enabled " + std::to_string(w.id));
        } else if (op == L"wait-gone") {
            DWORD ms = static_cast<DWORD>(nextInt());
            if (!Wait(
                    ms, [](void*) { return !IsWindow(g_main); }, nullptr))
                return Fail("wait-gone");
            Out("gone");
        } else if (op == L"sleep") {
            Sleep(static_cast<DWORD>(nextInt()));
        } else if (op == L"string") {
            std::wstring exe = next();
            int id = nextInt();
            HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (m == nullptr) return Fail("string: cannot load " + Utf8(exe));
            const wchar_t* text = nullptr;
            int n = LoadStringW(m, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
            Out("string " + std::to_string(id) + ": " +
                (n > 0 ? Utf8(std::wstring(text, static_cast<size_t>(n))) : std::string()));
            FreeLibrary(m);
        } else if (op == L"langid") {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%04x", GetSystemDefaultLangID());
            Out(std::string("langid: ") + hex);
        } else {
            return Fail("unknown step " + Utf8(op));
        }
    }
    return 0;
}
