// The icon-handler role: the shell hands over one file's path with IPersistFile::Load and
// asks IExtractIconA::GetIconLocation where its icon is. The answer is, first found:
//   1. the file's entry in the per-file table;
//   2. while this extension is the class's icon handler, the type's icon chosen since
//      ("HandlerIconInfo");
//   3. what the class's previous icon handler (shellex\IconHandlerBAK) answers;
//   4. the class's DefaultIcon; while this extension is the handler that text is "%1",
//      which stands for the type's icon from before the installation (DefaultIconBAK),
//      so that the other files of the type keep their icon;
//   5. the file itself, index 0.
// Nothing is cached: every request reads the registry again.
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <string_view>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "ExtensionIdentity.h"
#include "IconTarget.h"
#include "PathText.h"
#include "Registry.h"
#include "ShellIconExtension.h"

namespace orvane {

namespace {

// The platform's path splitting keeps at most 255 characters of an extension.
constexpr std::size_t ExtensionCapacity = 256;
// The previous handler answers into a buffer of this many characters.
constexpr UINT PreviousAnswerCapacity = 520;

// CoInitialize balanced by CoUninitialize when it succeeded (also with S_FALSE, "already
// initialized"). A thread that already runs in the multithreaded apartment can use COM
// all the same.
class ComInitialization {
public:
    ComInitialization() : hr_(CoInitialize(nullptr)) {}
    ~ComInitialization()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_;
};

template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (p_ != nullptr)
            p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface* get() const { return p_; }
    Interface* operator->() const { return p_; }
    void** put() { return reinterpret_cast<void**>(&p_); }

private:
    Interface* p_ = nullptr;
};

// The file's extension (".txt"), or empty for none or for one too long to name a class.
void TakeExtension(const char* path, char (&extension)[ExtensionCapacity])
{
    extension[0] = '\0';
    const std::string_view text = SplitFileName(path).Extension;
    if (text.empty() || text.size() >= ExtensionCapacity)
        return;
    std::memcpy(extension, text.data(), text.size());
    extension[text.size()] = '\0';
}

// A record without an icon path says nothing about where the icon is.
bool Usable(const std::optional<IconLocation>& location)
{
    return location.has_value() && location->IconPath[0] != '\0';
}

bool NamesFileItself(const IconLocation& location) { return std::strstr(location.IconPath, "%1") != nullptr; }

// The class that HKEY_CLASSES_ROOT\<extension> names.
bool ReadClassName(const char* extension, char (&className)[TextCapacity])
{
    RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, extension, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    return ReadTextValue(key.get(), nullptr, className, sizeof className) && className[0] != '\0';
}

// The class's DefaultIcon text from before this extension became its icon handler.
std::optional<IconLocation> ReadDefaultIconBackup(const char* typeKey)
{
    char path[TextCapacity];
    if (!FormatKeyPath(path, sizeof path, "%s\\DefaultIconBAK", typeKey))
        return std::nullopt;
    RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return std::nullopt;
    char text[RegistryTextLimit];
    if (!ReadTextValue(key.get(), nullptr, text, sizeof text))
        return std::nullopt;
    return ParseIconLocation(text, false);
}

} // namespace

std::optional<IconLocation> ShellIconExtension::AskPreviousIconHandler(const char* className) const
{
    char text[TextCapacity] = {};
    if (!ReadIconHandlerText(className, HandlerSlot::Backup, text))
        return std::nullopt;
    text[TextCapacity - 1] = '\0';
    if (std::strlen(text) < 2)
        return std::nullopt;

    ComInitialization com;
    if (!com.Usable())
        return std::nullopt;
    wchar_t clsidText[TextCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, clsidText, TextCapacity) == 0)
        return std::nullopt;
    CLSID clsid;
    if (FAILED(CLSIDFromString(clsidText, &clsid)))
        return std::nullopt;
    // A backup naming this extension itself would only lead back here.
    if (IsEqualCLSID(clsid, CLSID_ShellIconExtension))
        return std::nullopt;

    ComPtr<IExtractIconA> handler;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IExtractIconA, handler.put())))
        return std::nullopt;
    {
        // Icon handlers learn their file through IPersistFile, as the shell would tell them.
        ComPtr<IPersistFile> persist;
        if (SUCCEEDED(handler->QueryInterface(IID_IPersistFile, persist.put()))) {
            wchar_t widePath[TextCapacity];
            if (MultiByteToWideChar(CP_ACP, 0, itemPath_, -1, widePath, TextCapacity) == 0)
                return std::nullopt;
            if (FAILED(persist->Load(widePath, STGM_READ)))
                return std::nullopt;
        }
    }

    char answer[PreviousAnswerCapacity] = {};
    int index = -1;
    UINT flags = 0;
    const HRESULT hr = handler->GetIconLocation(0, answer, PreviousAnswerCapacity, &index, &flags);
    answer[PreviousAnswerCapacity - 1] = '\0';
    // GIL_NOTFILENAME asks the caller to extract through that handler's Extract, which
    // this object does not forward; such an answer cannot be passed on.
    if (hr != S_OK || (flags & GIL_NOTFILENAME) != 0)
        return std::nullopt;
    IconLocation location;
    if (!location.SetIconPath(answer) || location.IconPath[0] == '\0')
        return std::nullopt;
    location.SetIndex(index);
    return location;
}

// The class is read once and each of its keys at most once: Explorer asks this for every
// file of the class that it shows.
std::optional<IconLocation> ShellIconExtension::ReadTypeAnswer(const char* extension) const
{
    char className[TextCapacity] = {};
    if (!ReadClassName(extension, className))
        return std::nullopt;
    std::optional<IconLocation> typeIcon = LookupClassIcon(HKEY_CLASSES_ROOT, className, nullptr);
    // The shell consults an icon handler only while DefaultIcon says "%1".
    const bool installed = Usable(typeIcon) && NamesFileItself(*typeIcon) && IsOwnIconHandler(*typeIcon);
    if (installed) {
        std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, className, HandlerIconValue);
        if (Usable(chosen))
            return chosen;
    }
    // Installing keeps the previous handler and DefaultIcon text in the class where
    // DefaultIcon was found (at the end of a CurVer chain).
    std::optional<IconLocation> previous = AskPreviousIconHandler(Usable(typeIcon) ? typeIcon->TypeKey : className);
    if (Usable(previous))
        return previous;
    if (installed) {
        std::optional<IconLocation> backup = ReadDefaultIconBackup(typeIcon->TypeKey);
        if (Usable(backup))
            return backup;
    }
    return typeIcon;
}

IFACEMETHODIMP ShellIconExtension::GetIconLocation(UINT, LPSTR iconFile, UINT cchMax, int* index, UINT*)
{
    if (iconFile == nullptr || cchMax == 0)
        return E_INVALIDARG;
    if (index == nullptr)
        return E_POINTER;

    return GuardedCall([&]() -> HRESULT {
        // A missing path, a folder or a drive root is not ours to answer.
        if (itemPath_[0] == '\0' || ClassifyTarget(itemPath_) != TargetKind::File)
            return S_FALSE;

        char extension[ExtensionCapacity];
        TakeExtension(itemPath_, extension);

        std::optional<IconLocation> location = ReadFileIcon(itemPath_);
        if (!Usable(location) && extension[0] != '\0')
            location = ReadTypeAnswer(extension);

        const char* answerPath = itemPath_;
        int answerIndex = 0;
        if (Usable(location)) {
            answerIndex = location->Index == NoIndex ? 0 : location->Index;
            // "%1" anywhere in the icon path stands for the file itself.
            if (!NamesFileItself(*location))
                answerPath = location->IconPath;
        }

        // A path cut to fit would name another file; without room the shell keeps its own icon.
        const std::size_t length = std::strlen(answerPath);
        if (length >= cchMax)
            return S_FALSE;
        std::memcpy(iconFile, answerPath, length + 1);
        *index = answerIndex;
        return S_OK;
    });
}

// The shell extracts the icon from the location itself.
IFACEMETHODIMP ShellIconExtension::Extract(LPCSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

IFACEMETHODIMP ShellIconExtension::GetClassID(CLSID*) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::IsDirty() { return S_FALSE; }

// Keeps the path for GetIconLocation. A path that does not convert exactly into at most
// 259 ANSI characters (too long, or with characters the code page lacks, which a best-fit
// conversion would turn into another file's name) is kept as the empty path, which
// GetIconLocation answers with S_FALSE.
IFACEMETHODIMP ShellIconExtension::Load(LPCOLESTR fileName, DWORD)
{
    itemPath_[0] = '\0';
    if (fileName == nullptr)
        return E_INVALIDARG;

    char converted[TextCapacity];
    BOOL usedDefault = FALSE;
    // The UTF-8 code page converts every character and takes neither flags nor the
    // default-character report.
    const bool utf8 = GetACP() == CP_UTF8;
    const int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, fileName, -1, converted,
                                            sizeof converted, nullptr, utf8 ? nullptr : &usedDefault);
    if (written <= 0 || usedDefault || converted[written - 1] != '\0')
        return S_OK;
    std::memcpy(itemPath_, converted, static_cast<std::size_t>(written));
    return S_OK;
}

IFACEMETHODIMP ShellIconExtension::Save(LPCOLESTR, BOOL) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::SaveCompleted(LPCOLESTR) { return E_FAIL; }

IFACEMETHODIMP ShellIconExtension::GetCurFile(LPOLESTR*) { return E_FAIL; }

} // namespace orvane
