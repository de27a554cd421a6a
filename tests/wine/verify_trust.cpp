// Asks WinVerifyTrust about one file as Windows asks before it runs a signed
// program: WINTRUST_ACTION_GENERIC_VERIFY_V2, no user interface, no
// revocation check. Prints the answer as eight hex digits.
// Usage: verify_trust.exe <file>
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: verify_trust <file>\n");
        return 2;
    }
    std::wstring path(MAX_PATH * 4, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, &path[0], static_cast<int>(path.size()));
    if (length == 0) return 2;

    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    std::printf("%08lX\n", static_cast<unsigned long>(status));
    return 0;
}
