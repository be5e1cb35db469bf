# Cross-compiling for Windows on Arm (arm64) with Debian's clang and lld and the MinGW-w64
# runtime that scripts/arm64-toolchain.sh builds (build/toolchain-arm64 by default;
# ORVANE_ARM64_TOOLCHAIN, as a CMake variable or in the environment, names another).
# No Wine here runs arm64 programs, so there is no emulator: the files are built and their
# headers and imports checked (tests/check_arm64.sh), not run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(ORVANE_ARCH arm64)
set(ORVANE_MINGW_TRIPLET aarch64-w64-mingw32)

if(NOT ORVANE_ARM64_TOOLCHAIN)
    if(DEFINED ENV{ORVANE_ARM64_TOOLCHAIN})
        set(ORVANE_ARM64_TOOLCHAIN $ENV{ORVANE_ARM64_TOOLCHAIN})
    else()
        get_filename_component(ORVANE_ARM64_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/../build/toolchain-arm64 ABSOLUTE)
    endif()
endif()
# CMake reads this file again for each of its compiler checks, in a project of their own.
set(ENV{ORVANE_ARM64_TOOLCHAIN} ${ORVANE_ARM64_TOOLCHAIN})
if(NOT EXISTS ${ORVANE_ARM64_TOOLCHAIN}/complete)
    message(FATAL_ERROR "no arm64 toolchain in ${ORVANE_ARM64_TOOLCHAIN}: run scripts/arm64-toolchain.sh")
endif()

set(tools ${ORVANE_ARM64_TOOLCHAIN}/bin/${ORVANE_MINGW_TRIPLET})
set(CMAKE_C_COMPILER ${tools}-clang)
set(CMAKE_CXX_COMPILER ${tools}-clang++)
set(CMAKE_RC_COMPILER ${tools}-windres)
set(CMAKE_AR ${tools}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${tools}-ranlib CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH ${ORVANE_ARM64_TOOLCHAIN}/${ORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
