// sfx-boxes: shows the message boxes given on its command line, one after
// the other; the driver's own test subject.
//
//   sfx-boxes [owner=TITLE | dialog=TITLE] [w|a]TYPE|CAPTION|TEXT ...
//
// TYPE is the MessageBox type in hex; a leading "a" shows the box through
// MessageBoxA (the texts converted to the ANSI code page first), "w" or
// nothing through MessageBoxW. "owner=TITLE" creates a visible dialog window
// with that title that owns the boxes after it; "dialog=TITLE" does the same
// with a dialog like the installer's (a label with id 0xFFFF, an Install
// button with id 1001, a Cancel button). "\n" in a text is a newline.
// Exit code: the answers, one hex digit each, first answer first.
#include <windows.h>

#include <string>
#include <vector>

static std::string Ansi(const std::wstring &text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

static std::wstring Unescape(const std::wstring &text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            out += L'\n';
            i++;
        } else {
            out += text[i];
        }
    }
    return out;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HWND owner = nullptr;
    unsigned code = 0;
    for (int i = 1; i < argc; i++) {
        std::wstring arg = argv[i];
        if (arg.compare(0, 6, L"owner=") == 0) {
            owner = CreateWindowExW(0, L"#32770", arg.c_str() + 6,
                                    WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                    nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (arg.compare(0, 7, L"dialog=") == 0) {
            // Shown once complete, as a dialog from a template is.
            owner = CreateWindowExW(0, L"#32770", arg.c_str() + 7, WS_OVERLAPPEDWINDOW, 10, 10,
                                    300, 200, nullptr, nullptr, nullptr, nullptr);
            CreateWindowExW(0, L"Static", L"Click Install to start.", WS_CHILD | WS_VISIBLE,
                            10, 10, 200, 20, owner, (HMENU)(INT_PTR)0xFFFF, nullptr, nullptr);
            CreateWindowExW(0, L"Button", L"&Install", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                            10, 100, 80, 24, owner, (HMENU)(INT_PTR)1001, nullptr, nullptr);
            CreateWindowExW(0, L"Button", L"Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                            100, 100, 80, 24, owner, (HMENU)(INT_PTR)IDCANCEL, nullptr, nullptr);
            ShowWindow(owner, SW_SHOW);
            continue;
        }
        bool ansi = false;
        if (!arg.empty() && (arg[0] == L'a' || arg[0] == L'w')) {
            ansi = arg[0] == L'a';
            arg.erase(0, 1);
        }
        size_t bar1 = arg.find(L'|'), bar2 = arg.find(L'|', bar1 + 1);
        if (bar1 == std::wstring::npos || bar2 == std::wstring::npos) return 255;
        unsigned type = wcstoul(arg.substr(0, bar1).c_str(), nullptr, 16);
        std::wstring caption = Unescape(arg.substr(bar1 + 1, bar2 - bar1 - 1));
        std::wstring text = Unescape(arg.substr(bar2 + 1));
        int answer = ansi ? MessageBoxA(owner, Ansi(text).c_str(), Ansi(caption).c_str(), type)
                          : MessageBoxW(owner, text.c_str(), caption.c_str(), type);
        code = code * 16 + (unsigned)answer;
    }
    return (int)code;
}
