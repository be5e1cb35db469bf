# The class identifiers' registry text for the parts of the build that are not C++: the
# installer (installer/build.sh hands it to wixl), the package and the installer's test.
# Each is read from its one definition, a constant in common/ExtensionIdentity.h,
# formatted as the registry writes it ("{XXXXXXXX-XXXX-...}", upper case) and written to
# a file in the build folder: CLSID_ShellIconExtension to ORVANE_CLSID_FILE, and
# CLSID_ExplorerCommand to ORVANE_COMMAND_CLSID_FILE (the top CMakeLists.txt writes that
# one). A change of the header configures the build again; a constant this cannot read
# stops the configuration.
set(ORVANE_CLSID_FILE ${CMAKE_BINARY_DIR}/ExtensionClsid.txt)
set(ORVANE_COMMAND_CLSID_FILE ${CMAKE_BINARY_DIR}/ExplorerCommandClsid.txt)

function(orvane_write_clsid_text header constant output)
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
    # Written only when it changes, so that nothing that reads it is made again for nothing.
    if(EXISTS ${output})
        file(READ ${output} previous)
    endif()
    if(NOT "${previous}" STREQUAL "${text}\n")
        file(WRITE ${output} "${text}\n")
    endif()
endfunction()

orvane_write_clsid_text(${CMAKE_SOURCE_DIR}/common/ExtensionIdentity.h CLSID_ShellIconExtension ${ORVANE_CLSID_FILE})
