/* Starts one command line exactly as written (its one argument), waits for it,
   and prints its exit code (a Unix exit status would keep only the low 8
   bits of a code such as 3010), exiting with it too: the installer tests run the uninstall entry's
   commands as Windows would. `wine` alone would quote their unquoted _?=
   folder, which the uninstaller then would not recognise. */
#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
    (void)instance;
    (void)previous;
    (void)line;
    (void)show;
    int count = 0;
    WCHAR** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 2) {
        return 9008;
    }
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, args[1], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return 9009;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 9009;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    char text[16];
    DWORD written = 0;
    const int length = wsprintfA(text, "%lu\n", code);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)length, &written, NULL);
    return (int)code;
}
