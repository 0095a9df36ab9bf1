// sfx-driver: starts a Win32 program, watches its dialogs and message boxes,
// reports them and answers them, and reports the program's exit code.
//
//   sfx-driver [--press BUTTON]... [--dialog ACTION]... [--timeout S] [--poll MS]
//              [--controls] -- PROGRAM [ARGS...]
//
// Report: one JSON object per line on stdout, in UTF-8:
//   {"event":"start","pid":N}
//   {"event":"box","caption":"...","text":"...","buttons":["OK"],
//    "button_ids":[1],"icon":true,"owner":null|"owner's caption"}
//   {"event":"press","button":"OK","how":"command"|"escape"|"close"}
//   {"event":"dialog","title":"...","owner":...,"style":N,"rect":[l,t,r,b],
//    "client":[x,y,w,h],"controls":[{"class":"Button","id":1001,"text":"...",
//    "visible":true,"enabled":true,"style":N,"rect":[l,t,r,b]}, ...]}
//   {"event":"action","action":"..."}
//   {"event":"exit","code":N}
//   {"event":"timeout"}            (the program is then terminated)
//   {"event":"error","message":"..."}
//
// BUTTON is matched against each button of the box: the standard names OK,
// Cancel, Abort, Retry, Ignore, Yes, No match the button with that command id
// (whatever its text in the user's language); anything else matches a
// button's text without '&' (case-insensitive); "#N" is the button with id N.
// ESC sends the Escape key to the box, CLOSE sends WM_CLOSE. Once the list is
// used up, every further box gets OK (or its first button when it has no OK).
// A main dialog (a #32770 window that is not a message box) is reported once
// (window rectangles in screen pixels, control rectangles in the dialog's
// client pixels); then the ACTIONs are applied to it, in order:
//   press:ID        the command of control ID, as a click sends it
//   text:ID=TEXT    sets the text of control ID
//   check:ID=0|1    sets the check box ID off or on
//   click:ID        a left click in the middle of control ID
//   dblclick:ID     a double click there (down, up, double-click, up)
//   post:MSG        posts message number MSG to the dialog (both parameters 0)
//   wait:MS         waits MS milliseconds before the next action
//   escape          the Escape key, to the control with the focus
//   close           the close box (WM_CLOSE)
//
// Exit code: 0 when the program ended (its own code is in the report), 3 on
// timeout, 2 on a usage error or when the program could not be started.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <set>
#include <string>
#include <vector>

#include "../win32/wide_text.h"

namespace {

std::string Json(const std::wstring &text) {
    std::string in = Utf8(text), out = "\"";
    for (unsigned char c : in) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buffer[8];
                snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

void Emit(const std::string &line) {
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// A window's text as Unicode. WM_GETTEXT reaches windows of other processes
// too; GetWindowTextW is the fallback when the window does not answer.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000,
                             &length)) {
        wchar_t buffer[4096];
        int n = GetWindowTextW(window, buffer, 4096);
        return std::wstring(buffer, n > 0 ? n : 0);
    }
    std::vector<wchar_t> buffer(length + 2);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    return std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256];
    int n = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, n > 0 ? n : 0);
}

bool IsClass(HWND window, const wchar_t *name) {
    return _wcsicmp(ClassOf(window).c_str(), name) == 0;
}

std::wstring WithoutAmpersands(const std::wstring &text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == L'&') {
            if (i + 1 < text.size() && text[i + 1] == L'&') out += L'&', i++;
            continue;
        }
        out += text[i];
    }
    return out;
}

struct Child {
    HWND window;
    int id;
    std::wstring cls;
    LONG style;
    RECT rect;     // screen coordinates
};

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    auto *children = reinterpret_cast<std::vector<Child> *>(param);
    Child child;
    child.window = window;
    child.id = GetDlgCtrlID(window);
    child.cls = ClassOf(window);
    child.style = GetWindowLongW(window, GWL_STYLE);
    GetWindowRect(window, &child.rect);
    children->push_back(child);
    return TRUE;
}

std::vector<Child> ChildrenOf(HWND window) {
    std::vector<Child> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    // Only direct children.
    std::vector<Child> direct;
    for (auto &c : children)
        if (GetParent(c.window) == window) direct.push_back(c);
    return direct;
}

bool IsPushButton(const Child &c) {
    if (_wcsicmp(c.cls.c_str(), L"Button") != 0) return false;
    LONG type = c.style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool IsIconStatic(const Child &c) {
    return _wcsicmp(c.cls.c_str(), L"Static") == 0 && (c.style & SS_TYPEMASK) == SS_ICON;
}

// The message text of a message box: the static with id 0xFFFF (Windows and
// Wine 8; older Wine numbered it 100). A message box holds nothing else but
// its icon static and push buttons with the standard answer ids (IDOK 1 to
// IDCONTINUE 11); a dialog's labels may also have the id 0xFFFF, but its own
// buttons and other controls tell it apart. Null when not a message box.
HWND MessageTextOf(const std::vector<Child> &children) {
    HWND text = nullptr;
    for (auto &c : children) {
        if (IsIconStatic(c)) continue;
        if (IsPushButton(c) && c.id >= IDOK && c.id <= 11) continue;
        if (_wcsicmp(c.cls.c_str(), L"Static") == 0 && (c.id == 0xFFFF || c.id == 100) && !text)
            text = c.window;
        else
            return nullptr;
    }
    return text;
}

std::string OwnerJson(HWND window) {
    HWND owner = GetWindow(window, GW_OWNER);
    if (!owner) return "null";
    return Json(TextOf(owner));
}

struct Button {
    HWND window;
    int id;
    std::wstring text;
    int left;
};

std::vector<Button> ButtonsOf(const std::vector<Child> &children) {
    std::vector<Button> buttons;
    for (auto &c : children) {
        if (!IsPushButton(c) || !IsWindowVisible(c.window)) continue;
        buttons.push_back({c.window, c.id, WithoutAmpersands(TextOf(c.window)),
                           (int)c.rect.left});
    }
    // Left to right, as the user sees them.
    for (size_t i = 1; i < buttons.size(); i++)
        for (size_t j = i; j > 0 && buttons[j].left < buttons[j - 1].left; j--)
            std::swap(buttons[j], buttons[j - 1]);
    return buttons;
}

struct Standard {
    const wchar_t *name;
    int id;
};
const Standard StandardButtons[] = {{L"OK", IDOK},         {L"Cancel", IDCANCEL},
                                    {L"Abort", IDABORT},   {L"Retry", IDRETRY},
                                    {L"Ignore", IDIGNORE}, {L"Yes", IDYES},
                                    {L"No", IDNO}};

const Button *FindButton(const std::vector<Button> &buttons, const std::wstring &name) {
    if (name.size() > 1 && name[0] == L'#') {
        int id = _wtoi(name.c_str() + 1);
        for (auto &b : buttons)
            if (b.id == id) return &b;
        return nullptr;
    }
    for (auto &s : StandardButtons)
        if (_wcsicmp(s.name, name.c_str()) == 0)
            for (auto &b : buttons)
                if (b.id == s.id) return &b;
    for (auto &b : buttons)
        if (_wcsicmp(b.text.c_str(), name.c_str()) == 0) return &b;
    return nullptr;
}

void SendKey(HWND box, UINT key) {
    // To the control with the focus, as the keyboard would; through the
    // box's own message loop, which turns Escape into IDCANCEL.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = box;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == box || IsChild(box, info.hwndFocus)))
        target = info.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

struct Options {
    std::vector<std::wstring> presses;
    double timeout = 60;
    int poll = 50;
    bool controls = false;
    std::vector<std::wstring> actions;
    std::wstring command;
};

struct Watch {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto *watch = reinterpret_cast<Watch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == watch->pid && IsWindowVisible(window) && IsClass(window, L"#32770"))
        watch->windows.push_back(window);
    return TRUE;
}

std::wstring Quote(const std::wstring &arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            slashes++;
        } else if (c == L'"') {
            out.append(slashes * 2 + 1, L'\\');
            out += c;
            slashes = 0;
        } else {
            out.append(slashes, L'\\');
            out += c;
            slashes = 0;
        }
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

// One --dialog action on the main dialog; false when it names no control.
bool Apply(HWND dialog, const std::wstring &action) {
    Emit("{\"event\":\"action\",\"action\":" + Json(action) + "}");
    if (action == L"escape") {
        SendKey(dialog, VK_ESCAPE);
        return true;
    }
    if (action == L"close") {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return true;
    }
    size_t colon = action.find(L':');
    if (colon == std::wstring::npos) return false;
    std::wstring verb = action.substr(0, colon), rest = action.substr(colon + 1);
    size_t equals = rest.find(L'=');
    int id = _wtoi(rest.substr(0, equals).c_str());
    std::wstring value = equals == std::wstring::npos ? L"" : rest.substr(equals + 1);
    HWND control = GetDlgItem(dialog, id);
    if (verb == L"press") {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
        return true;
    }
    if (verb == L"wait") {
        Sleep((DWORD)id);
        return true;
    }
    if (verb == L"post") {
        PostMessageW(dialog, (UINT)id, 0, 0);
        return true;
    }
    if (!control) return false;
    if (verb == L"text") {
        // WM_SETTEXT carries its string across processes.
        SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)value.c_str(), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
        return true;
    }
    if (verb == L"click" || verb == L"dblclick") {
        RECT r;
        GetClientRect(control, &r);
        LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
        PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(control, WM_LBUTTONUP, 0, at);
        if (verb == L"dblclick") {
            PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            PostMessageW(control, WM_LBUTTONUP, 0, at);
        }
        return true;
    }
    if (verb == L"check") {
        SendMessageTimeoutW(control, BM_SETCHECK, value == L"1" ? BST_CHECKED : BST_UNCHECKED, 0,
                            SMTO_ABORTIFHUNG, 5000, nullptr);
        return true;
    }
    return false;
}

int Usage() {
    fputs("usage: sfx-driver [--press BUTTON]... [--dialog ACTION]... [--timeout S]"
          " [--poll MS] [--controls] -- PROGRAM [ARGS...]\n",
          stderr);
    return 2;
}

RECT ClientRectOf(HWND parent, RECT r) {
    MapWindowPoints(HWND_DESKTOP, parent, (POINT *)&r, 2);
    return r;
}

std::string RectJson(const RECT &r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

std::string ControlsJson(HWND parent, const std::vector<Child> &children) {
    std::string out = "[";
    for (size_t i = 0; i < children.size(); i++) {
        const Child &c = children[i];
        if (i) out += ",";
        out += "{\"class\":" + Json(c.cls) + ",\"id\":" + std::to_string(c.id) +
               ",\"text\":" + Json(TextOf(c.window)) +
               ",\"visible\":" + (IsWindowVisible(c.window) ? "true" : "false") +
               ",\"enabled\":" + (IsWindowEnabled(c.window) ? "true" : "false") +
               ",\"style\":" + std::to_string((unsigned long)c.style) +
               ",\"rect\":" + RectJson(ClientRectOf(parent, c.rect)) +
               (IsIconStatic(c) ? std::string(",\"has_icon\":") +
                                      (SendMessageW(c.window, STM_GETICON, 0, 0) ? "true" : "false")
                                : std::string()) +
               "}";
    }
    return out + "]";
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    int i = 1;
    for (; i < argc; i++) {
        std::wstring a = argv[i];
        if (a == L"--") {
            i++;
            break;
        } else if (a == L"--press" && i + 1 < argc) {
            options.presses.push_back(argv[++i]);
        } else if (a == L"--dialog" && i + 1 < argc) {
            options.actions.push_back(argv[++i]);
        } else if (a == L"--timeout" && i + 1 < argc) {
            options.timeout = _wtof(argv[++i]);
        } else if (a == L"--poll" && i + 1 < argc) {
            options.poll = _wtoi(argv[++i]);
        } else if (a == L"--controls") {
            options.controls = true;
        } else {
            return Usage();
        }
    }
    if (i >= argc) return Usage();
    std::wstring command;
    for (int j = i; j < argc; j++) {
        if (j > i) command += L' ';
        command += Quote(argv[j]);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessW(argv[i], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        Emit("{\"event\":\"error\",\"message\":" +
             Json(L"cannot start " + std::wstring(argv[i]) + L": error " +
                  std::to_wstring(GetLastError())) +
             "}");
        return 2;
    }
    Emit("{\"event\":\"start\",\"pid\":" + std::to_string(process.dwProcessId) + "}");

    std::set<HWND> handled;
    size_t next_press = 0;
    DWORD deadline = GetTickCount() + (DWORD)(options.timeout * 1000);
    for (;;) {
        if (WaitForSingleObject(process.hProcess, options.poll) == WAIT_OBJECT_0) break;
        if ((LONG)(GetTickCount() - deadline) >= 0) {
            Emit("{\"event\":\"timeout\"}");
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 5000);
            return 3;
        }
        Watch watch{process.dwProcessId, {}};
        EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&watch));
        // Forget windows that are gone, so that a new one with a reused
        // handle is seen.
        for (auto it = handled.begin(); it != handled.end();)
            it = IsWindow(*it) ? std::next(it) : handled.erase(it);
        // Dialogs first: answering a box may end the program at once.
        for (HWND window : watch.windows) {
            if (handled.count(window)) continue;
            std::vector<Child> children = ChildrenOf(window);
            if (MessageTextOf(children)) continue;
            handled.insert(window);
            RECT frame = {}, client = {};
            GetWindowRect(window, &frame);
            GetClientRect(window, &client);
            POINT origin = {0, 0};
            ClientToScreen(window, &origin);
            std::string report = "{\"event\":\"dialog\",\"title\":" + Json(TextOf(window)) +
                 ",\"owner\":" + OwnerJson(window) +
                 ",\"style\":" + std::to_string((unsigned long)GetWindowLongW(window, GWL_STYLE)) +
                 ",\"rect\":" + RectJson(frame) + ",\"client\":[" + std::to_string(origin.x) + "," +
                 std::to_string(origin.y) + "," + std::to_string(client.right) + "," +
                 std::to_string(client.bottom) + "],\"controls\":" +
                 ControlsJson(window, children) + "}";
            // A dialog that is being destroyed was visible when the windows
            // were listed but answers with empty texts and hidden controls:
            // it is no dialog on screen.
            if (!IsWindowVisible(window)) continue;
            Emit(report);
            for (const std::wstring &action : options.actions)
                if (!Apply(window, action)) {
                    Emit("{\"event\":\"error\",\"message\":" +
                         Json(L"cannot apply " + action) + "}");
                    TerminateProcess(process.hProcess, 255);
                    WaitForSingleObject(process.hProcess, 5000);
                    return 3;
                }
        }
        for (HWND window : watch.windows) {
            if (handled.count(window)) continue;
            std::vector<Child> children = ChildrenOf(window);
            HWND text = MessageTextOf(children);
            if (!text) continue;
            std::vector<Button> buttons = ButtonsOf(children);
            if (buttons.empty()) continue;  // not set up yet: look again
            handled.insert(window);
            bool icon = false;
            for (auto &c : children)
                // Wine keeps an empty icon static in a box without an icon;
                // Windows leaves it out. Either way: is an icon set?
                if (IsIconStatic(c) && SendMessageW(c.window, STM_GETICON, 0, 0)) icon = true;
            std::string names = "[", ids = "[";
            for (size_t b = 0; b < buttons.size(); b++) {
                if (b) names += ",", ids += ",";
                names += Json(buttons[b].text);
                ids += std::to_string(buttons[b].id);
            }
            Emit("{\"event\":\"box\",\"caption\":" + Json(TextOf(window)) +
                 ",\"text\":" + Json(TextOf(text)) + ",\"buttons\":" + names +
                 "],\"button_ids\":" + ids + "],\"icon\":" + (icon ? "true" : "false") +
                 ",\"owner\":" + OwnerJson(window) +
                 (options.controls ? ",\"controls\":" + ControlsJson(window, children) : "") +
                 (options.controls && GetWindow(window, GW_OWNER)
                      ? ",\"owner_controls\":" + ControlsJson(GetWindow(window, GW_OWNER),
                                                              ChildrenOf(GetWindow(window, GW_OWNER)))
                      : "") +
                 "}");

            std::wstring press =
                next_press < options.presses.size() ? options.presses[next_press++] : L"";
            if (_wcsicmp(press.c_str(), L"ESC") == 0) {
                Emit("{\"event\":\"press\",\"button\":\"ESC\",\"how\":\"escape\"}");
                SendKey(window, VK_ESCAPE);
                continue;
            }
            if (_wcsicmp(press.c_str(), L"CLOSE") == 0) {
                Emit("{\"event\":\"press\",\"button\":\"CLOSE\",\"how\":\"close\"}");
                PostMessageW(window, WM_CLOSE, 0, 0);
                continue;
            }
            const Button *button = FindButton(buttons, press.empty() ? L"OK" : press);
            if (!button && press.empty()) button = &buttons[0];
            if (!button) {
                Emit("{\"event\":\"error\",\"message\":" +
                     Json(L"no button " + press + L" in the box") + "}");
                TerminateProcess(process.hProcess, 255);
                WaitForSingleObject(process.hProcess, 5000);
                return 3;
            }
            Emit("{\"event\":\"press\",\"button\":" + Json(button->text) +
                 ",\"id\":" + std::to_string(button->id) + ",\"how\":\"command\"}");
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(button->id, BN_CLICKED),
                         (LPARAM)button->window);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    Emit("{\"event\":\"exit\",\"code\":" + std::to_string(code) + "}");
    return 0;
}
