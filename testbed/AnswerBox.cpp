// Answers the launcher's message box for a script, as a player would: waits
// for a visible box with the caption "VOK 围棋", prints its text (UTF-8, one
// line: "box: <text>"), keeps it on the screen for a while (for a screenshot)
// and presses its default button.
//
//   AnswerBox.exe <seconds> [hold ms]
//
// Exit codes: 0 a box was answered, 1 none showed within the given time,
// 2 bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const wchar_t kCaption[] = L"VOK 围棋";

BOOL CALLBACK CollectStaticText(HWND child, LPARAM text)
{
    wchar_t className[16], buffer[512];
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0) {
        for (wchar_t* c = buffer; *c; ++c) {
            if (*c == L'\r' || *c == L'\n')
                *c = L' ';
        }
        *reinterpret_cast<std::wstring*>(text) += buffer;
    }
    return TRUE;
}

void PrintUtf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    std::printf("box: %s\n", bytes.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
        return 2;
    const DWORD waitMs = std::strtoul(argv[1], nullptr, 10) * 1000;
    const DWORD holdMs = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 0;
    const DWORD start = GetTickCount();
    for (;;) {
        HWND box = FindWindowW(L"#32770", kCaption);
        if (box && IsWindowVisible(box)) {
            std::wstring text;
            EnumChildWindows(box, &CollectStaticText, reinterpret_cast<LPARAM>(&text));
            PrintUtf8(text);
            Sleep(holdMs);
            // The default button: OK for an information box.
            const LRESULT defId = SendMessageW(box, DM_GETDEFID, 0, 0);
            const int id = HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : IDOK;
            HWND button = GetDlgItem(box, id);
            SendMessageW(button ? button : box, BM_CLICK, 0, 0);
            return 0;
        }
        if (GetTickCount() - start > waitMs)
            return 1;
        Sleep(50);
    }
}
