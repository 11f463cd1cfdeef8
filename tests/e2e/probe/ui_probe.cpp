// Reads and drives another process's windows for the end-to-end tests.
//
//   quillomir_ui_probe list [TITLE]          visible top-level windows, one JSON object a line
//   quillomir_ui_probe measure [TITLE]       the same, with each control's font and the
//                                            caption's extent in it
//   quillomir_ui_probe tab TITLE             captions in Tab order, from the first tab stop
//   quillomir_ui_probe texts TITLE           the captions of every visible control at any
//                                            depth (an installer's pages are child dialogs)
//   quillomir_ui_probe click TITLE CAPTION   clicks the control (BM_CLICK, or a mouse
//                                            click posted to a static)
//   quillomir_ui_probe close TITLE           the close control: WM_SYSCOMMAND SC_CLOSE
//   quillomir_ui_probe raise TITLE           puts the window on top of the z-order
//   quillomir_ui_probe parent TITLE X Y W H  a plain top-level window at that place, as a
//                                            stand-in for the display settings; prints
//                                            its handle in decimal and runs until closed
//   quillomir_ui_probe cursor                GetCursorInfo, as one JSON object
//   quillomir_ui_probe resources TITLE       what the process owning that window holds: its
//                                            handles, GDI and USER objects (counted where the
//                                            system does not report them; null where neither
//                                            can be had) and windows
//
// `list` walks EnumWindows, so the windows come top of the z-order first.
// Exit code 0 on success, 2 when the window or control is not there.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measure_hook.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), needed, nullptr, nullptr);
    return out;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (const char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[512] = {};
    // Read where Windows keeps it, without a message that a busy or starting
    // process would have to answer.
    InternalGetWindowText(window, buffer, 512);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

UINT DpiOf(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return getDpi ? getDpi(window) : 96;
}

// Measures controls inside the process that owns them, through the hook DLL
// that sits beside the probe: font handles mean nothing in another process.
class Measurer {
  public:
    explicit Measurer(HWND top) {
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(MeasureResult), kMeasureMappingName);
        done_ = CreateEventW(nullptr, FALSE, FALSE, kMeasureEventName);
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll = path;
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"quillomir_probe_hook.dll";
        module_ = LoadLibraryW(dll.c_str());
        const auto proc = module_ ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                        GetProcAddress(module_, "ProbeGetMessage")))
                                  : nullptr;
        if (proc && mapping_ && done_) {
            hook_ = SetWindowsHookExW(WH_GETMESSAGE, proc, module_,
                                      GetWindowThreadProcessId(top, nullptr));
        }
        // Without the hook every font reads as unknown; say which step failed,
        // so that a case's log tells a missing hook from a missing font.
        if (!hook_) {
            std::fprintf(stderr, "measure: no hook (dll %s, ProbeGetMessage %s, mapping %s)\n",
                         module_ ? "loaded" : "not loaded", proc ? "found" : "not found",
                         mapping_ && done_ ? "made" : "not made");
        }
        message_ = RegisterWindowMessageW(kMeasureMessageName);
    }
    ~Measurer() {
        if (hook_) {
            UnhookWindowsHookEx(hook_);
        }
        if (module_) {
            FreeLibrary(module_);
        }
        if (done_) {
            CloseHandle(done_);
        }
        if (mapping_) {
            CloseHandle(mapping_);
        }
    }

    bool Measure(HWND control, MeasureResult& result) {
        if (!hook_) {
            return false;
        }
        ResetEvent(done_);
        PostMessageW(control, message_, 0, 0);
        if (WaitForSingleObject(done_, 3000) != WAIT_OBJECT_0) {
            return false;
        }
        const void* view = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, sizeof result);
        if (!view) {
            return false;
        }
        result = *static_cast<const MeasureResult*>(view);
        UnmapViewOfFile(view);
        return result.control == control;
    }

  private:
    HANDLE mapping_ = nullptr;
    HANDLE done_ = nullptr;
    HMODULE module_ = nullptr;
    HHOOK hook_ = nullptr;
    UINT message_ = 0;
};

std::string FontJson(Measurer* measurer, HWND control) {
    MeasureResult m{};
    if (!measurer || !measurer->Measure(control, m) || !m.hasFont) {
        return "null";
    }
    char buffer[640];
    std::snprintf(buffer, sizeof buffer,
                  "{\"face\":%s,\"actual_face\":%s,\"height\":%ld,\"weight\":%ld,"
                  "\"underline\":%d,\"italic\":%d,\"line_height\":%ld,\"extent\":[%ld,%ld],"
                  "\"wrapped\":[%ld,%ld],\"text_color\":%lu}",
                  Json(m.font.lfFaceName).c_str(), Json(m.actualFace).c_str(), m.font.lfHeight,
                  m.font.lfWeight, m.font.lfUnderline ? 1 : 0, m.font.lfItalic ? 1 : 0,
                  m.lineHeight, m.extent.cx, m.extent.cy, m.wrapped.cx, m.wrapped.cy,
                  static_cast<unsigned long>(m.textColor));
    return buffer;
}

std::string ChildJson(Measurer* measurer, HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    RECT client{};
    GetClientRect(child, &client);
    const std::wstring caption = TextOf(child);
    const std::wstring className = ClassOf(child);
    LRESULT checked = -1;
    if (_wcsicmp(className.c_str(), L"Button") == 0) {
        DWORD_PTR state = 0;
        SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        checked = static_cast<LRESULT>(state);
    }
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "{\"hwnd\":%llu,\"id\":%ld,\"class\":%s,\"caption\":%s,\"style\":%lu,"
                  "\"exstyle\":%lu,\"rect\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],"
                  "\"checked\":%ld,\"font\":",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(child)),
                  static_cast<long>(GetDlgCtrlID(child)), Json(className).c_str(),
                  Json(caption).c_str(),
                  static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)), rect.left,
                  rect.top, rect.right - rect.left, rect.bottom - rect.top, client.right,
                  client.bottom, static_cast<long>(checked));
    return std::string(buffer) + FontJson(measurer, child) + "}";
}

std::string WindowJson(HWND window, bool measure) {
    RECT rect{};
    GetWindowRect(window, &rect);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char buffer[768];
    std::snprintf(
        buffer, sizeof buffer,
        "{\"hwnd\":%llu,\"class\":%s,\"caption\":%s,\"style\":%lu,\"exstyle\":%lu,"
        "\"pid\":%lu,\"owner\":%llu,\"enabled\":%d,\"foreground\":%d,\"dpi\":%u,"
        "\"rect\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],\"client_origin\":[%ld,%ld],"
        "\"children\":[",
        static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
        Json(ClassOf(window)).c_str(), Json(TextOf(window)).c_str(),
        static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
        static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)),
        static_cast<unsigned long>(pid),
        static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetWindow(window, GW_OWNER))),
        IsWindowEnabled(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0, DpiOf(window),
        rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, client.right,
        client.bottom, origin.x, origin.y);
    std::string out = buffer;
    // Children in z-order, which is the order that Tab follows.
    std::unique_ptr<Measurer> measurer;
    if (measure) {
        measurer = std::make_unique<Measurer>(window);
    }
    bool first = true;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        out += first ? "" : ",";
        out += ChildJson(measurer.get(), window, child);
        first = false;
    }
    return out + "]}";
}

struct Search {
    const wchar_t* title;
    std::vector<HWND> found;
};

// A named function: a lambda does not convert to a stdcall pointer on 32-bit.
BOOL CALLBACK NoteTopWindow(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    if (IsWindowVisible(window) && (!s->title || TextOf(window) == s->title)) {
        s->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> TopWindows(const wchar_t* title) {
    Search search{title, {}};
    EnumWindows(NoteTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The visible top-level window of that title that is not a message box.
HWND FindTop(const wchar_t* title) {
    for (HWND window : TopWindows(title)) {
        if (ClassOf(window) != L"#32770") {
            return window;
        }
    }
    const std::vector<HWND> any = TopWindows(title);
    return any.empty() ? nullptr : any.front();
}

HWND FindChild(HWND parent, const wchar_t* caption) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (TextOf(child) == caption) {
            return child;
        }
    }
    return nullptr;
}

int List(const wchar_t* title, bool measure) {
    for (HWND window : TopWindows(title)) {
        std::printf("%s\n", WindowJson(window, measure).c_str());
    }
    return 0;
}

int Tab(const wchar_t* title) {
    HWND top = FindTop(title);
    if (!top) {
        return 2;
    }
    HWND first = GetNextDlgTabItem(top, nullptr, FALSE);
    HWND item = first;
    for (int i = 0; item && i < 64; ++i) {
        std::printf("%s\n", Json(TextOf(item)).c_str());
        item = GetNextDlgTabItem(top, item, FALSE);
        if (item == first) {
            break;
        }
    }
    return 0;
}

BOOL CALLBACK PrintVisibleText(HWND window, LPARAM) {
    if (IsWindowVisible(window)) {
        std::printf("%s\n", Json(TextOf(window)).c_str());
    }
    return TRUE;
}

int Texts(const wchar_t* title) {
    HWND top = FindTop(title);
    if (!top) {
        return 2;
    }
    EnumChildWindows(top, PrintVisibleText, 0);
    return 0;
}

int Click(const wchar_t* title, const wchar_t* caption) {
    HWND top = FindTop(title);
    HWND control = top ? FindChild(top, caption) : nullptr;
    if (!control) {
        return 2;
    }
    // Posted, so that a message box the click opens does not hold the probe.
    if (ClassOf(control) == L"Static") {
        RECT client{};
        GetClientRect(control, &client);
        const LPARAM at = MAKELPARAM(client.right / 2, client.bottom / 2);
        PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(control, WM_LBUTTONUP, 0, at);
    } else {
        PostMessageW(control, BM_CLICK, 0, 0);
    }
    return 0;
}

int Close(const wchar_t* title) {
    HWND top = FindTop(title);
    if (!top) {
        return 2;
    }
    PostMessageW(top, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

int Raise(const wchar_t* title) {
    HWND top = FindTop(title);
    if (!top) {
        return 2;
    }
    // Windows keeps a window's owned windows above it; this is what shows it.
    SetWindowPos(top, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return 0;
}

LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Parent(const wchar_t* title, int x, int y, int width, int height) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ParentProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = L"QuillomirProbeParent";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW, x, y,
                                  width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) {
        return 2;
    }
    ShowWindow(window, SW_SHOW);
    std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// Under Wine, CURSOR_SHOWING reflects the display count of the thread that owns
// the foreground input, which is what a hidden pointer in the saver sets.
int Cursor() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info)) {
        return 2;
    }
    std::printf("{\"flags\":%lu,\"showing\":%d,\"x\":%ld,\"y\":%ld}\n",
                static_cast<unsigned long>(info.flags), (info.flags & CURSOR_SHOWING) ? 1 : 0,
                info.ptScreenPos.x, info.ptScreenPos.y);
    return 0;
}

struct WindowCount {
    DWORD pid;
    int count;
};

BOOL CALLBACK CountChild(HWND window, LPARAM data) {
    auto* c = reinterpret_cast<WindowCount*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    c->count += pid == c->pid ? 1 : 0;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND window, LPARAM data) {
    CountChild(window, data);
    EnumChildWindows(window, CountChild, data);
    return TRUE;
}

// Every window of the process, visible or not, top-level or child.
int WindowsOf(DWORD pid) {
    WindowCount count{pid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&count));
    return count.count;
}

template <typename Function>
Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// Wine answers 0 to GetProcessHandleCount and GetGuiResources; what they would
// say can still be counted. The system's handle list names each handle's owner.
std::optional<DWORD> HandlesInSystemList(DWORD pid) {
    using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<Query>("NtQuerySystemInformation");
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; query && attempt < 6; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) {
            break;
        }
        const auto* list = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        DWORD count = 0;
        for (ULONG i = 0; i < list->Count; ++i) {
            count += list->Handle[i].OwnerPid == pid ? 1 : 0;
        }
        return count;
    }
    return std::nullopt;
}

// Wine keeps a process's GDI objects in a table of its own that the PEB points
// to; a used entry has a non-zero type.
std::optional<DWORD> GdiObjectsInTable(HANDLE process) {
    using Query = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<Query>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, 0, &basic, sizeof basic, nullptr) != 0) {
        return std::nullopt;
    }
    constexpr std::size_t kTableInPeb = sizeof(void*) == 8 ? 0xF8 : 0x94;
    void* table = nullptr;
    if (!ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + kTableInPeb,
                           &table, sizeof table, nullptr) ||
        !table) {
        return std::nullopt;
    }
    struct Entry {
        UINT64 object;
        ULONG owner;
        USHORT unique;
        BYTE type;
        BYTE flags;
        UINT64 user;
    };
    static_assert(sizeof(Entry) == 24);
    std::vector<Entry> entries(0x10000);
    if (!ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(Entry),
                           nullptr)) {
        return std::nullopt;
    }
    DWORD count = 0;
    for (const Entry& entry : entries) {
        count += entry.type != 0 ? 1 : 0;
    }
    return count;
}

std::string CountJson(std::optional<DWORD> value) {
    return value ? std::to_string(*value) : "null";
}

int Resources(const wchar_t* title) {
    HWND top = FindTop(title);
    DWORD pid = 0;
    if (!top || !GetWindowThreadProcessId(top, &pid)) {
        return 2;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        return 2;
    }
    // A process with a window holds some of each: 0 means the count is not kept.
    DWORD count = 0;
    const std::optional<DWORD> handles =
        GetProcessHandleCount(process, &count) && count != 0 ? count : HandlesInSystemList(pid);
    count = GetGuiResources(process, GR_GDIOBJECTS);
    const std::optional<DWORD> gdi = count != 0 ? count : GdiObjectsInTable(process);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    CloseHandle(process);
    std::printf("{\"pid\":%lu,\"handles\":%s,\"gdi\":%s,\"user\":%s,\"windows\":%d}\n",
                static_cast<unsigned long>(pid), CountJson(handles).c_str(), CountJson(gdi).c_str(),
                user != 0 ? std::to_string(user).c_str() : "null", WindowsOf(pid));
    return 0;
}

void BecomeDpiAware() {
    using Fn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (!set || !set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        SetProcessDPIAware();
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    BecomeDpiAware();
    const std::wstring command = argc > 1 ? argv[1] : L"";
    int rc = 1;
    if (command == L"list" || command == L"measure") {
        rc = List(argc > 2 ? argv[2] : nullptr, command == L"measure");
    } else if (command == L"tab" && argc > 2) {
        rc = Tab(argv[2]);
    } else if (command == L"texts" && argc > 2) {
        rc = Texts(argv[2]);
    } else if (command == L"click" && argc > 3) {
        rc = Click(argv[2], argv[3]);
    } else if (command == L"close" && argc > 2) {
        rc = Close(argv[2]);
    } else if (command == L"raise" && argc > 2) {
        rc = Raise(argv[2]);
    } else if (command == L"parent" && argc > 6) {
        rc = Parent(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]));
    } else if (command == L"cursor") {
        rc = Cursor();
    } else if (command == L"resources" && argc > 2) {
        rc = Resources(argv[2]);
    } else {
        std::fprintf(stderr,
                     "usage: quillomir_ui_probe list|measure [TITLE] | tab TITLE | texts TITLE | "
                     "click TITLE CAPTION | close TITLE | raise TITLE | parent TITLE X Y W H | "
                     "cursor | resources TITLE\n");
    }
    std::fflush(stdout);
    return rc;
}
