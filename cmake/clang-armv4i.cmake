# Windows CE 5.0, 6.0 and 7 on ARM: palvenor.exe, palvenor.cpl and their MUI
# files as ARMv4I modules, machine 0x1C2, which these CEs load and Compact
# 2013 too. ARM-mode ARMv4T code runs on every ARM CPU they run on (ARMv4T
# to ARMv7); ARMv5TE would add ldrd/strd, which fault on a stack CE's old
# ABI keeps 4-byte aligned. No Debian linker writes an ARM PE other than
# Thumb-2's, so clang compiles ELF objects, ld.lld links them as the image
# lies (cmake/ce-module.ld) and cmake/write-ce-module writes the module.
# mingw-w64's Win32 headers stand in for the CE SDK's, as on x86: they are
# told the compiler is one of Windows' (_WIN32) and theirs (__MINGW32__).
# A triple without "eabi": the compiler's block copies call memcpy and
# memset, which COREDLL exports, not the EABI's __aeabi_memcpy4 and kin.
# CE's layout: 2-byte wchar_t, int-sized enums, 64-bit fields 8-byte
# aligned (AAPCS); the record-size checks of ce_services.h hold it to CE's.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET armv4t-none-elf)
set(CMAKE_CXX_FLAGS_INIT "-marm -mabi=aapcs -mfloat-abi=soft -fshort-wchar -fno-short-enums -fms-extensions \
-ffreestanding -ffunction-sections -fdata-sections -isystem /usr/share/mingw-w64/include -D_WIN32 -D__MINGW32__")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CE_CPU armv4i)
