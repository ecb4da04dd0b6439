# Cross build for the units' CPU (64-bit ARM, Linux) on an x86-64 Debian host: Debian's cross
# compiler, the arm64 libraries in the sysroot that scripts/install-deps-arm64.sh makes, and
# programs run under qemu user-mode emulation (tests, GoogleTest's test discovery).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

if(DEFINED ENV{HDEXT_ARM64_SYSROOT})
  set(_sysroot "$ENV{HDEXT_ARM64_SYSROOT}")
else()
  set(_sysroot /opt/hdext/sysroot-arm64)
endif()
if(NOT EXISTS ${_sysroot}/.hdext-packages)
  message(FATAL_ERROR "No arm64 sysroot at ${_sysroot}: run scripts/install-deps-arm64.sh")
endif()

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_SYSROOT ${_sysroot})
set(CMAKE_FIND_ROOT_PATH ${_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files and prefixes their paths with it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${_sysroot})
set(ENV{PKG_CONFIG_LIBDIR} ${_sysroot}/usr/lib/aarch64-linux-gnu/pkgconfig:${_sysroot}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# -L: the dynamic loader and every library come from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${_sysroot})
