// A file that stands for all files of a type while a type's icon is read or changed: the
// store names a type by a file of it. An empty file in a folder of its own under this
// user's temporary folder, both gone again when this goes.
#pragma once

#include <string>

namespace orvane {

class TypeStandIn {
public:
    explicit TypeStandIn(const wchar_t* extension) noexcept;
    ~TypeStandIn();
    TypeStandIn(const TypeStandIn&) = delete;
    TypeStandIn& operator=(const TypeStandIn&) = delete;

    // Whether the file could be made (its path fits, the folder accepts it).
    bool Made() const { return made_; }
    const wchar_t* Path() const { return path_.c_str(); }

private:
    std::wstring folder_;
    std::wstring path_;
    bool made_ = false;
};

} // namespace orvane
