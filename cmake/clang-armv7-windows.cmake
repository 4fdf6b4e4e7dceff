# Windows CE on ARM: palvenor.exe, palvenor.cpl and their MUI files as
# Thumb-2 (ARMv7) modules, machine 0x1C4, the processor of CE devices with a
# USB function controller. Debian's clang and lld, with mingw-w64's Win32
# headers standing in for the CE SDK's as on x86. Only the CE modules build
# here: there is no C runtime or C++ library for ARM Windows to link the
# desktop's DLLs or the test driver against.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET armv7-w64-windows-gnu)
set(CMAKE_CXX_FLAGS_INIT "-isystem /usr/share/mingw-w64/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_DLLTOOL llvm-dlltool)
# Nothing links before the CE modules' own libraries exist.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CE_CPU arm)
