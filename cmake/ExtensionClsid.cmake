# The class identifiers' registry text ("{XXXXXXXX-XXXX-...}", upper case), made here and
# nowhere else from their one definition, the constants in common/ExtensionIdentity.h. It
# is written into the build folder once per configuration, for every part that needs it:
#   ORVANE_IDENTITY_DIR/ExtensionClsidText.h  the C++ code's ExtensionClsidText and
#                                             ExplorerCommandClsidText (orvane_common
#                                             puts the folder on the include path);
#   ORVANE_CLSID_FILE                         CLSID_ShellIconExtension, for the installer
#                                             (installer/build.sh hands it to wixl) and
#                                             the installer's test;
#   ORVANE_COMMAND_CLSID_FILE                 CLSID_ExplorerCommand, for the package
#                                             (installer/package.sh).
# A change of the header configures the build again; a constant this cannot read stops
# the configuration.
set(ORVANE_IDENTITY_DIR ${CMAKE_BINARY_DIR}/identity)
set(ORVANE_CLSID_FILE ${CMAKE_BINARY_DIR}/ExtensionClsid.txt)
set(ORVANE_COMMAND_CLSID_FILE ${CMAKE_BINARY_DIR}/ExplorerCommandClsid.txt)

# Sets `variable` to the registry text of the GUID constant `constant` in `header`.
function(orvane_clsid_text header constant variable)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
    file(READ ${header} source)
    string(REGEX MATCH "${constant}[ \t\r\n]*=[ \t\r\n]*[{][^;]*[}][ \t\r\n]*;" initializer "${source}")
    string(REGEX MATCHALL "0[xX][0-9A-Fa-f]+" numbers "${initializer}")
    list(LENGTH numbers count)
    if(NOT count EQUAL 11)
        message(FATAL_ERROR "${header}: ${constant} is not {0xXXXXXXXX, 0xXXXX, 0xXXXX, {eight 0xXX}}")
    endif()
    # Data1, Data2, Data3 and the eight bytes of Data4, each to its width in hex digits.
    set(widths 8 4 4 2 2 2 2 2 2 2 2)
    set(text "{")
    foreach(i RANGE 10)
        list(GET numbers ${i} number)
        list(GET widths ${i} width)
        string(SUBSTRING "${number}" 2 -1 digits)
        string(TOUPPER "${digits}" digits)
        string(LENGTH "${digits}" length)
        if(length GREATER width)
            message(FATAL_ERROR "${header}: ${number} has more than ${width} hex digits")
        endif()
        while(length LESS width)
            string(PREPEND digits "0")
            math(EXPR length "${length} + 1")
        endwhile()
        if(i EQUAL 1 OR i EQUAL 2 OR i EQUAL 3 OR i EQUAL 5)
            string(APPEND text "-")
        endif()
        string(APPEND text "${digits}")
    endforeach()
    string(APPEND text "}")
    set(${variable} "${text}" PARENT_SCOPE)
endfunction()

# Written only when it changes, so that nothing that reads it is made again for nothing.
function(orvane_write_if_changed output content)
    set(previous "")
    if(EXISTS ${output})
        file(READ ${output} previous)
    endif()
    if(NOT "${previous}" STREQUAL "${content}")
        file(WRITE ${output} "${content}")
    endif()
endfunction()

set(identity_header ${CMAKE_SOURCE_DIR}/common/ExtensionIdentity.h)
orvane_clsid_text(${identity_header} CLSID_ShellIconExtension extension_clsid)
orvane_clsid_text(${identity_header} CLSID_ExplorerCommand command_clsid)
orvane_write_if_changed(${ORVANE_CLSID_FILE} "${extension_clsid}\n")
orvane_write_if_changed(${ORVANE_COMMAND_CLSID_FILE} "${command_clsid}\n")
orvane_write_if_changed(${ORVANE_IDENTITY_DIR}/ExtensionClsidText.h
"// Written by cmake/ExtensionClsid.cmake from the constants in common/ExtensionIdentity.h,
// which includes it; not to be edited.
#pragma once

namespace orvane {

// 38 characters and the terminating zero.
inline constexpr wchar_t ExtensionClsidText[] = L\"${extension_clsid}\";
inline constexpr wchar_t ExplorerCommandClsidText[] = L\"${command_clsid}\";

} // namespace orvane
")
