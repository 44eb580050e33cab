# What a Windows build needs beyond the common part: Qt for Windows (scripts/build-qt-windows,
# found through its qt.toolchain.cmake, which chains to mingw-w64-x86_64.cmake, with Debian's host tools through QT_HOST_PATH), the
# resource compiler, GoogleTest from Debian's source and a native build of this tree for the
# programs that run during the build.
option(QUILLON_WINDOWS_CORE_ONLY
       "Build only the libraries below the front ends and the serial check (no Qt needed)" OFF)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
if(QUILLON_WINDOWS_CORE_ONLY)
    return()
endif()
enable_language(RC)
set(QUILLON_HOST_TOOLS "" CACHE PATH
    "A native build of this tree: its package builder and icon renderer run during this build")
if(NOT EXISTS "${QUILLON_HOST_TOOLS}/tools/pkgbuild/quillon-pkgbuild")
    message(FATAL_ERROR "QUILLON_HOST_TOOLS must name a native build of this tree "
                        "(with quillon-pkgbuild and quillon-icons built): ${QUILLON_HOST_TOOLS}")
endif()
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

if(QUILLON_BUILD_TESTS)
    set(QUILLON_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "Debian's googletest source")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUILLON_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(library gtest gtest_main gmock gmock_main)
        # Their code is not ours to keep free of our warnings.
        target_compile_options(${library} PRIVATE -w)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
endif()
