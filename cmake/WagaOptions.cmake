# Warnings and the opt-in sanitizer build, applied to every target of the project.
option(WAGA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

add_compile_options(-Wall -Wextra -Wpedantic)

# The hardening Debian builds its packages with: checked buffer functions, and every symbol bound
# at start so the relocation table can be made read-only.
if(NOT WAGA_SANITIZE AND NOT WAGA_FUZZ)
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo>:_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
endif()

if(WAGA_SANITIZE)
  # Line tables are all a sanitizer's report needs (file and line in every frame); full debug
  # information only makes the sanitizer tree, the longest part of ./test, slower to build.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined $<$<CXX_COMPILER_ID:Clang>:-gline-tables-only>)
  add_link_options(-fsanitize=address,undefined)
endif()

# Flags for libFuzzer targets; only clang provides -fsanitize=fuzzer.
set(WAGA_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
