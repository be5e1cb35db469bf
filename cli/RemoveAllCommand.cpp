// orvane remove-all: Orvane taken out of every file type, as uninstalling does.
#include "Commands.h"

#include <windows.h>

#include <string>

#include "ConsoleText.h"
#include "Messages.h"
#include "RemoveAll.h"
#include "ShellNotify.h"

namespace orvane::cli {

int RemoveAll()
{
    const LONG status = RemoveAllSettings();
    // The classes got their own DefaultIcon back (this user's also when all users' were
    // refused); let the shell drop its cached icons.
    NotifyAssociationsChanged();
    if (status != ERROR_SUCCESS) {
        WriteErr(L"orvane: remove-all: " + ResultMessage(ResultFromStatus(status)) + L"\n");
        return 1;
    }
    WriteOut(L"Orvane removed from every file type; per-file icons and folder backups deleted.\n");
    return 0;
}

} // namespace orvane::cli
