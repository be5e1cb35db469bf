#include "UnwritableFolder.h"

#include <windows.h>

#include <utility>

#include "PictureFiles.h"
#include "TestSupport.h"

namespace orvane::test {

namespace {

// Starts `command` with the Unix shell; Wine does not wait for it on our behalf.
bool RunShell(const std::string& command)
{
    std::wstring line = L"Z:\\bin\\sh -c \"" + FromUtf8(command) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line it is given.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Whether a new file can be made in the folder now; the file goes again at once.
bool TakesNewFile(const std::wstring& folder)
{
    const std::wstring probe = folder + L"\\orvane-probe.tmp";
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(file);
    return true;
}

// Waits up to five seconds for the folder to take (or refuse) a new file.
bool BecomesWritable(const std::wstring& folder, bool writable)
{
    for (int wait = 0; wait < 100; ++wait) {
        if (TakesNewFile(folder) == writable)
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace

UnwritableFolder::UnwritableFolder(std::wstring folder) : folder_(std::move(folder))
{
    const std::string unix = UnixPath(folder_);
    if (unix.empty() || unix.find('\'') != std::string::npos)
        return;
    if (RunShell("/usr/bin/chattr +i '" + unix + "' 2>/dev/null || /bin/chmod a-w '" + unix + "'"))
        refuses_ = BecomesWritable(folder_, false);
}

UnwritableFolder::~UnwritableFolder()
{
    const std::string unix = UnixPath(folder_);
    if (unix.empty() || unix.find('\'') != std::string::npos)
        return;
    if (RunShell("/usr/bin/chattr -i '" + unix + "' 2>/dev/null; /bin/chmod u+w '" + unix + "'"))
        BecomesWritable(folder_, true);
}

} // namespace orvane::test
