# Cross-building the network edition for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64): scripts/build-windows uses it. The posix-thread compiler, since the
# win32-thread one has no std::thread; everything linked statically, so that the programs run
# on a machine with nothing else installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 7 and later.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
# GCC 12 at -O3 sees overlapping copies inside std::string's own replace and insert where
# there are none (its bug 105329); the warning would fail a -Werror build on library code.
add_compile_options(-Wno-restrict)

# Asio and the JSON library are header-only and the same for every target, but /usr/include
# must never be searched for a Windows build: a directory holding only each stands in for it.
if(CMAKE_BINARY_DIR AND NOT CMAKE_BINARY_DIR MATCHES "CMakeFiles/CMakeScratch|CMakeTmp")
    set(_asio_only ${CMAKE_BINARY_DIR}/asio-only)
    if(NOT EXISTS ${_asio_only}/asio.hpp)
        file(MAKE_DIRECTORY ${_asio_only})
        file(CREATE_LINK /usr/include/asio.hpp ${_asio_only}/asio.hpp SYMBOLIC)
        file(CREATE_LINK /usr/include/asio ${_asio_only}/asio SYMBOLIC)
    endif()
    set(ASIO_INCLUDE_DIR ${_asio_only} CACHE PATH "Asio alone, for the Windows build" FORCE)
    set(_json_only ${CMAKE_BINARY_DIR}/json-only)
    if(NOT EXISTS ${_json_only}/nlohmann)
        file(MAKE_DIRECTORY ${_json_only})
        file(CREATE_LINK /usr/include/nlohmann ${_json_only}/nlohmann SYMBOLIC)
    endif()
    set(NLOHMANN_JSON_INCLUDE_DIR ${_json_only} CACHE PATH "the JSON library alone" FORCE)
endif()
