# Cross-compiling for Windows with mingw-w64 against the static Qt that
# tools/windows/build-qt.sh makes; VEXOR_QT_WINDOWS names that Qt's prefix.
# The program is 32-bit: 64-bit Windows runs it under WOW64, Windows on ARM
# through its x86 emulation, and 32-bit Windows natively.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The POSIX thread model: QtTest and std::mutex need it.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEXOR_QT_WINDOWS)
set(CMAKE_FIND_ROOT_PATH ${VEXOR_QT_WINDOWS} /usr/i686-w64-mingw32)
set(CMAKE_PREFIX_PATH ${VEXOR_QT_WINDOWS})
# Qt's own tools (moc, uic, rcc) are built for this machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Small: every function and datum in a section of its own, and what nothing
# reaches is dropped at the link (the framework is built the same way);
# optimised for size, and stripped.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_RELEASE_INIT "-Os -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Os -DNDEBUG")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
# One self-contained .exe: nothing but system DLLs at run time. The same
# bytes every time: no time stamp in its header.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--gc-sections -Wl,--no-insert-timestamp")
