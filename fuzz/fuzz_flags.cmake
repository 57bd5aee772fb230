# Compiler flags of the fuzzing build: every library is instrumented for
# libFuzzer's coverage and built with AddressSanitizer and UBSan.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VRK_FUZZ=ON needs CMAKE_CXX_COMPILER=clang++ (and CMAKE_C_COMPILER=clang)")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
  -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
