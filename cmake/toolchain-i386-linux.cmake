# Build for 32-bit x86 Linux with the host's compilers (-m32, from Debian's
# g++-multilib). Where the kernel runs i386 programs, the tests run as they
# are (-DPV_I386_NATIVE=ON); elsewhere under user-mode emulation (qemu-i386
# as the CTest emulator).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

if(NOT PV_I386_NATIVE)
  # qemu 7.2's user mode refuses the option IP_MULTICAST_IF, which every
  # multicast sender here sets; the tests' emulator preloads a shim that
  # sends loopback multicast through a device binding instead
  # (tests/emulator/).
  set(PV_QEMU_MULTICAST_SHIM ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -E LD_PRELOAD=${CMAKE_BINARY_DIR}/libpv_qemu_shim.so)
endif()
