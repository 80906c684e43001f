// tarvek-open.exe PATH: starts tarvek.exe, which lies beside it, in the folder
// PATH, or in the folder that holds PATH when that is a file, such as a frame.
// Explorer runs it for «Открыть в Тарвеке» on a folder and for Open With on a
// BMP picture; the player itself reads no command line and plays the folder it
// is started in.
//
// PATH comes from outside and is only ever data: it is taken from the command
// line as Windows splits it, never read for options, and handed to no shell; the
// player is started by its own path, with the folder as its working folder and
// nothing else on its command line. Where the folder cannot be entered, or the
// player cannot be started, a message box says why and the status is 1; the
// player is then never started elsewhere. A small program of Windows' own calls,
// with Windows' own message box: it holds no Qt.

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring reason(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
        return L"Такой папки или файла нет.";
    case ERROR_DIRECTORY:
        return L"Это не папка.";
    case ERROR_ACCESS_DENIED:
        return L"Нет доступа.";
    case ERROR_FILENAME_EXCED_RANGE:
        return L"Слишком длинное имя.";
    default:
        return L"Ошибка системы номер " + std::to_wstring(error) + L".";
    }
}

// A name as the user can read it: a very long one shortened in the middle.
std::wstring shown(const std::wstring &name)
{
    return name.size() <= 200 ? name : name.substr(0, 90) + L" … " + name.substr(name.size() - 90);
}

int refuse(const std::wstring &text)
{
    ::MessageBoxW(nullptr, text.c_str(), L"Тарвек", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return 1;
}

// The folder to start in: PATH itself when it is a folder, else the folder that
// holds it; 0, or the error that stops it.
DWORD folderOf(const std::wstring &path, std::wstring &folder)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError();
    folder = path;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const std::size_t slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos)
            return ERROR_PATH_NOT_FOUND; // Explorer always gives a whole path
        folder.resize(slash == 2 && folder[1] == L':' ? 3 : slash); // "C:\frame.bmp": "C:\"
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc != 2)
        return refuse(L"Тарвеку нужно указать одну папку или один кадр.");
    const std::wstring path = argv[1];
    ::LocalFree(argv);

    std::wstring folder;
    if (const DWORD error = folderOf(path, folder))
        return refuse(L"Тарвек не может открыть папку\n«" + shown(path) + L"».\n\n" + reason(error));

    std::wstring player(MAX_PATH, L'\0');
    for (;;) { // this program's own path, however long
        const DWORD size = ::GetModuleFileNameW(nullptr, player.data(), DWORD(player.size()));
        if (size < player.size()) {
            player.resize(size);
            break;
        }
        player.resize(player.size() * 2);
    }
    player.resize(player.find_last_of(L'\\') + 1);
    player += L"tarvek.exe";
    std::wstring commandLine = L"\"" + player + L"\"";

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(player.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process)) {
        const DWORD error = ::GetLastError();
        // A folder that cannot be entered fails here, as the working folder.
        if (error == ERROR_DIRECTORY || error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE)
            return refuse(L"Тарвек не может открыть папку\n«" + shown(path) + L"».\n\n" + reason(error));
        return refuse(L"Тарвек не запускается:\n«" + shown(player) + L"».\n\n" + reason(error));
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 0;
}
