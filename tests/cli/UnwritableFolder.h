// A folder that refuses every write as the host refuses it, not as a test double would:
// Wine answers a Unix folder that takes no new file with ERROR_ACCESS_DENIED, as Windows
// answers a folder whose rights deny writing. Only the Unix side can make one, so a
// shell command does (through Wine, which starts Unix programs as it starts Windows
// ones): immutable for root, whom no permission stops, and without write permission for
// anyone else.
#pragma once

#include <string>

namespace orvane::test {

class UnwritableFolder {
public:
    explicit UnwritableFolder(std::wstring folder);
    // Writable again; waits until a file can be made in it.
    ~UnwritableFolder();
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;
    // Whether the folder really refuses a new file now (the host may offer neither way).
    bool Refuses() const { return refuses_; }

private:
    std::wstring folder_;
    bool refuses_ = false;
};

} // namespace orvane::test
