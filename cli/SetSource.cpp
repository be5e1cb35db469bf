#include "SetSource.h"

#include <new>

#include "FolderColourIcon.h"
#include "IconGroupFile.h"
#include "Messages.h"
#include "PictureIcon.h"

namespace orvane::cli {

SetSource::SetSource(const IconChoice& choice, bool copy)
    : made_(choice.IsPicture ? Made::Picture : copy ? Made::Copy : Made::Nothing), choice_(&choice)
{
}

SetSource::SetSource(FolderColour colour, const wchar_t* name) : made_(Made::Colour), colour_(colour), colourName_(name)
{
}

const wchar_t* SetSource::SourcePath() const { return choice_ != nullptr ? choice_->Source : nullptr; }

std::wstring SetSource::KindRefusal(const IconTarget& target) const
{
    if (target.Kind() == TargetKind::Folder)
        return L"";
    if (made_ == Made::Copy)
        return L"--copy keeps a copy of the icon inside a folder; it is for folders only, not for a " +
               std::wstring(KindWord(target));
    if (made_ == Made::Colour)
        return L"a colour can be given to folders only; nothing written";
    return L"";
}

const std::vector<std::uint8_t>* SetSource::MadeBytes(std::wstring& problem)
{
    if (!tried_) {
        tried_ = true;
        try {
            switch (made_) {
            case Made::Picture:
                if (const PictureProblem found = MakeIconBytesFromPicture(choice_->Source, bytes_);
                    found != PictureProblem::None)
                    problem_ = std::wstring(choice_->Source) + L": " + PictureProblemText(found);
                break;
            case Made::Copy:
                if (!CopyIconBytes(choice_->Source, choice_->Index, bytes_))
                    problem_ = L"the icon " + LocationText(choice_->Source, choice_->Index) + L" cannot be copied";
                break;
            case Made::Colour:
                bytes_ = FolderColourIconBytes(colour_);
                break;
            case Made::Nothing: break;
            }
        } catch (const std::bad_alloc&) {
            bytes_.clear();
        }
        if (bytes_.empty() && problem_.empty())
            problem_ = made_ == Made::Colour ? L"there is not enough memory to make the coloured icon"
                                             : L"there is not enough memory to make the icon";
    }
    problem = problem_;
    return problem_.empty() ? &bytes_ : nullptr;
}

std::wstring SetSource::SetToWords(const IconTarget& target) const
{
    switch (made_) {
    case Made::Nothing: return LocationText(choice_->Source, choice_->Index);
    case Made::Picture: return LocationText(target.CurrentIconPath(), 0) + L", made from " + choice_->Source;
    case Made::Copy:
        return LocationText(target.CurrentIconPath(), 0) + L", a copy of " +
               LocationText(choice_->Source, choice_->Index);
    case Made::Colour: return LocationText(target.CurrentIconPath(), 0) + L", coloured " + colourName_;
    }
    return L"";
}

} // namespace orvane::cli
