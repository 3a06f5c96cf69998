# 32-bit x86 Linux with the native g++ in -m32 mode (Debian g++-multilib):
# pelta32, the command-line host that can load pelta.auf, and the DLL test
# harness. SSE2 double arithmetic as in the 64-bit and DLL builds (not x87),
# and static linking, so qemu-i386-static runs the programs without a 32-bit
# loader or libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
