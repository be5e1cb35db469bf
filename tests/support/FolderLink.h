// Links from one place of the file system to another, for tests of what must not be
// followed out of a folder tree.
#pragma once

#include <string>

namespace orvane::test {

// A symbolic link at `link` to the folder (or file) `target`, taken away again (the link alone,
// never what it leads to) when the object goes: declare it after the TempDir that holds
// it, as removing a folder's contents would otherwise go through the link. Wine's
// CreateSymbolicLinkW answers success and makes nothing (Wine 8); a Unix symbolic link,
// made by ln through Wine's own way of starting a Unix program, is what Wine shows for a
// link: listed with FILE_ATTRIBUTE_REPARSE_POINT but without a reparse tag, opened as
// what it leads to.
class FolderLink {
public:
    FolderLink(std::wstring link, const std::wstring& target);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    bool Made() const { return made_; }

private:
    std::wstring link_;
    bool made_ = false;
    bool platform_ = false;
};

} // namespace orvane::test
