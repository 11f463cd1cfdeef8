/* Reports what Windows itself (here: Wine) knows about windows, for the e2e
 * tests: the X side cannot tell Windows' z-order or window classes.
 *
 *   wininfo top            top-level windows, top of the z-order first
 *   wininfo children HWND  child windows of HWND
 *   wininfo cursor         GetCursorInfo of the foreground input
 *
 * One line per window, tab-separated:
 *   hwnd pid visible exstyle style left top right bottom class title
 * hwnd and styles in hex; the title is UTF-8. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_window(HWND w) {
    wchar_t cls[256] = L"", title[512] = L"";
    char ucls[768], utitle[1536];
    RECT r = {0, 0, 0, 0};
    DWORD pid = 0;
    GetClassNameW(w, cls, 256);
    GetWindowTextW(w, title, 512);
    GetWindowRect(w, &r);
    GetWindowThreadProcessId(w, &pid);
    WideCharToMultiByte(CP_UTF8, 0, cls, -1, ucls, sizeof ucls, NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, title, -1, utitle, sizeof utitle, NULL, NULL);
    for (char *p = utitle; *p; ++p)
        if (*p == '\t' || *p == '\n' || *p == '\r') *p = ' ';
    printf("%llx\t%lu\t%d\t%lx\t%lx\t%ld\t%ld\t%ld\t%ld\t%s\t%s\n",
           (unsigned long long)(ULONG_PTR)w, pid, IsWindowVisible(w) ? 1 : 0,
           (unsigned long)GetWindowLongW(w, GWL_EXSTYLE), (unsigned long)GetWindowLongW(w, GWL_STYLE),
           r.left, r.top, r.right, r.bottom, ucls, utitle);
}

static BOOL CALLBACK each(HWND w, LPARAM parent) {
    /* EnumChildWindows walks all descendants; keep direct children only. */
    if (parent && GetParent(w) != (HWND)parent) return TRUE;
    print_window(w);
    return TRUE;
}

int main(int argc, char **argv) {
    if (argc >= 2 && !strcmp(argv[1], "top")) {
        EnumWindows(each, 0);
    } else if (argc >= 3 && !strcmp(argv[1], "children")) {
        HWND parent = (HWND)(ULONG_PTR)strtoull(argv[2], NULL, 16);
        EnumChildWindows(parent, each, (LPARAM)parent);
    } else if (argc >= 2 && !strcmp(argv[1], "cursor")) {
        CURSORINFO ci;
        ci.cbSize = sizeof ci;
        if (!GetCursorInfo(&ci)) return 2;
        printf("flags=%lx cursor=%llx x=%ld y=%ld\n", (unsigned long)ci.flags,
               (unsigned long long)(ULONG_PTR)ci.hCursor, ci.ptScreenPos.x, ci.ptScreenPos.y);
    } else {
        fprintf(stderr, "usage: wininfo top | children HWND | cursor\n");
        return 1;
    }
    fflush(stdout);
    return 0;
}
