// What set gives each target: an icon source as it is, or an icon made once for every
// target (from a picture, as a copy of a source's icon kept with each folder, or as
// Windows' folder picture in a colour), with the words set says it in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FolderColour.h"
#include "IconChoice.h"
#include "IconTarget.h"

namespace orvane::cli {

class SetSource {
public:
    // SOURCE[,INDEX]: a picture is made into an icon; with `copy` an icon is copied into
    // each folder.
    SetSource(const IconChoice& choice, bool copy);
    // --colour NAME|#RRGGBB, with the colour that NAME gave.
    SetSource(FolderColour colour, const wchar_t* name);

    // The icon source that goes into each target before its change (what the length
    // check sees); null for a colour, which has none.
    const wchar_t* SourcePath() const;
    std::int32_t SourceIndex() const { return choice_ != nullptr ? choice_->Index : 0; }
    bool IsMade() const { return made_ != Made::Nothing; }

    // Why the target cannot take this source (a copy and a colour are for folders only);
    // empty when it can.
    std::wstring KindRefusal(const IconTarget& target) const;
    // The made icon's bytes, made on the first call; null, with what kept them from being
    // made in `problem`, when they cannot be (on every later call too).
    const std::vector<std::uint8_t>* MadeBytes(std::wstring& problem);
    // What follows "icon set to" once the target has it: "PATH,INDEX", for a made icon
    // with where it came from (", made from X" and the like).
    std::wstring SetToWords(const IconTarget& target) const;

private:
    enum class Made { Nothing, Picture, Copy, Colour };

    Made made_;
    const IconChoice* choice_ = nullptr;
    FolderColour colour_{};
    const wchar_t* colourName_ = nullptr;
    bool tried_ = false;
    std::vector<std::uint8_t> bytes_;
    std::wstring problem_;
};

} // namespace orvane::cli
