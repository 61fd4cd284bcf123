// Another program of the same user that tries to swap a file that the update
// dialog holds: SwapAttempt <file> <replacement>. Tries every way in turn and
// exits with a bit for each one that worked (0: the file held).
#include <windows.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 255;
    const std::string file = argv[1], replacement = argv[2];
    const std::string folder = file.substr(0, file.find_last_of('\\'));
    int worked = 0;
    HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(writer, "MZ swapped", 10, &written, nullptr);
        CloseHandle(writer);
        worked |= 1;
    }
    if (CopyFileA(replacement.c_str(), file.c_str(), FALSE))
        worked |= 2;
    if (MoveFileExA(replacement.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        worked |= 4;
    if (MoveFileA(file.c_str(), (file + ".moved").c_str()))
        worked |= 8;
    if (DeleteFileA(file.c_str()))
        worked |= 16;
    if (MoveFileA(folder.c_str(), (folder + ".moved").c_str()))
        worked |= 32;
    if (RemoveDirectoryA(folder.c_str()))
        worked |= 64;
    return worked;
}
