// The keys that registering the module writes, shared by DllRegisterServer and the
// tests that check what it wrote. The classes' key paths are made from the class
// identifiers' text at compile time, so that their digits stand in one place only.
#pragma once

#include <cstddef>
#include <iterator>

#include "ExtensionIdentity.h"

namespace orvane {

namespace registration_detail {

template <std::size_t Size>
struct KeyPathText {
    wchar_t Text[Size] = {};
};

// head and tail, each with its terminating zero, as one terminated text.
template <std::size_t HeadSize, std::size_t TailSize>
constexpr KeyPathText<HeadSize + TailSize - 1> Join(const wchar_t (&head)[HeadSize], const wchar_t (&tail)[TailSize])
{
    KeyPathText<HeadSize + TailSize - 1> result;
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < HeadSize; ++i)
        result.Text[at++] = head[i];
    for (std::size_t i = 0; i < TailSize; ++i)
        result.Text[at++] = tail[i];
    return result;
}

constexpr std::size_t Length(const wchar_t* text)
{
    std::size_t length = 0;
    while (text[length] != L'\0')
        ++length;
    return length;
}

inline constexpr auto ClassKey = Join(L"CLSID\\", ExtensionClsidText);
inline constexpr auto ServerKey = Join(ClassKey.Text, L"\\InprocServer32");
inline constexpr auto CommandClassKey = Join(L"CLSID\\", ExplorerCommandClsidText);
inline constexpr auto CommandServerKey = Join(CommandClassKey.Text, L"\\InprocServer32");

} // namespace registration_detail

// HKCR\CLSID\{...} and its InprocServer32 subkey.
inline constexpr const wchar_t (&ClassKeyPath)[std::size(registration_detail::ClassKey.Text)] =
    registration_detail::ClassKey.Text;
inline constexpr const wchar_t (&ServerKeyPath)[std::size(registration_detail::ServerKey.Text)] =
    registration_detail::ServerKey.Text;

// A zero inside the identifier's text would cut the key path short of its digits.
static_assert(registration_detail::Length(ClassKeyPath) ==
              std::size(L"CLSID\\{01234567-89AB-CDEF-0123-456789ABCDEF}") - 1);
static_assert(registration_detail::Length(ServerKeyPath) == std::size(ServerKeyPath) - 1);

// HKCR\CLSID\{...} of the Explorer command and its InprocServer32 subkey. Windows 11's
// Explorer finds the command through the package's manifest; this registration lets
// every other caller (and the tests) create it with CoCreateInstance.
inline constexpr const wchar_t (&CommandClassKeyPath)[std::size(registration_detail::CommandClassKey.Text)] =
    registration_detail::CommandClassKey.Text;
inline constexpr const wchar_t (&CommandServerKeyPath)[std::size(registration_detail::CommandServerKey.Text)] =
    registration_detail::CommandServerKey.Text;
static_assert(registration_detail::Length(CommandClassKeyPath) == std::size(ClassKeyPath) - 1);
static_assert(registration_detail::Length(CommandServerKeyPath) == std::size(CommandServerKeyPath) - 1);

// HKLM: the list of approved shell extensions, one value per class identifier.
inline constexpr wchar_t ApprovedKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// HKCR: the context-menu handler entries for all files, folders and drive roots.
inline constexpr const wchar_t* HandlerKeyPaths[] = {
    L"*\\shellex\\ContextMenuHandlers\\Orvane",
    L"Directory\\shellex\\ContextMenuHandlers\\Orvane",
    L"Drive\\shellex\\ContextMenuHandlers\\Orvane",
};

} // namespace orvane
