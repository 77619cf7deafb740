# WebAssembly for the browser page and its tests, with Debian's clang, wasi-libc and the wasm32
# libc++. Test programs are WASI commands that node runs.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# GNU ar writes no symbol index that wasm-ld can read.
find_program(CMAKE_AR NAMES llvm-ar REQUIRED)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .wasm)
# The wasm32 C++ library is built without exceptions.
set(CMAKE_CXX_FLAGS_INIT -fno-exceptions)
# The compiler check links nothing: a plain program needs the WASI runner to be judged.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CROSSCOMPILING_EMULATOR node --no-warnings ${CMAKE_CURRENT_LIST_DIR}/../tests/web/wasi_run.mjs)
