/* Stands in for wtsapi32.dll in the installer tests: answers that the user
   named by FAKE_DESKTOP_USER ("DOMAIN\name", or empty for none) is logged on
   at this session, as Windows does when a standard user elevated with another
   account's password, or in the services' session. */
#include <windows.h>

static WCHAR* copy(const WCHAR* text, DWORD length) {
    WCHAR* out = LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(WCHAR));
    if (out) {
        memcpy(out, text, length * sizeof(WCHAR));
        out[length] = 0;
    }
    return out;
}

__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationW(HANDLE server, DWORD session, int info, WCHAR** buffer,
                                DWORD* bytes) {
    WCHAR user[256] = {0};
    DWORD length = GetEnvironmentVariableW(L"FAKE_DESKTOP_USER", user, 256);
    WCHAR* slash = wcschr(user, L'\\');
    const WCHAR* text = L"";
    DWORD n = 0;
    (void)server;
    (void)session;
    if (length < 256 && slash) {
        if (info == 5) { /* WTSUserName */
            text = slash + 1;
            n = (DWORD)wcslen(text);
        } else if (info == 7) { /* WTSDomainName */
            text = user;
            n = (DWORD)(slash - user);
        }
    }
    *buffer = copy(text, n);
    if (!*buffer) {
        return FALSE;
    }
    if (bytes) {
        *bytes = (n + 1) * sizeof(WCHAR);
    }
    return TRUE;
}

__declspec(dllexport) void WINAPI WTSFreeMemory(void* memory) {
    LocalFree(memory);
}
