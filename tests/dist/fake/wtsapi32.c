/* Stands in for wtsapi32.dll in the installer tests: answers that the user
   named by FAKE_DESKTOP_USER ("DOMAIN\name", or empty for none) is logged on
   at this session, as Windows does when a standard user elevated with another
   account's password, or in the services' session. */
#include <windows.h>

__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationW(HANDLE server, DWORD session, int info, WCHAR** buffer,
                                DWORD* bytes) {
    WCHAR user[256] = {0};
    GetEnvironmentVariableW(L"FAKE_DESKTOP_USER", user, 255);
    WCHAR* name = wcschr(user, L'\\');
    const WCHAR* text = L"";
    if (name) {
        *name++ = 0;
        text = info == 5 ? name : info == 7 ? user : L""; /* WTSUserName, WTSDomainName */
    }
    const DWORD size = (DWORD)(wcslen(text) + 1) * sizeof(WCHAR);
    *buffer = LocalAlloc(LMEM_FIXED, size);
    if (!*buffer) {
        return FALSE;
    }
    memcpy(*buffer, text, size);
    if (bytes) {
        *bytes = size;
    }
    (void)server;
    (void)session;
    return TRUE;
}

__declspec(dllexport) void WINAPI WTSFreeMemory(void* memory) {
    LocalFree(memory);
}
