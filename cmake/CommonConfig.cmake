# Compile settings shared by every target of the project; linked, never set globally.
add_library(tellwick_settings INTERFACE)
target_compile_features(tellwick_settings INTERFACE cxx_std_20)
target_include_directories(tellwick_settings INTERFACE ${PROJECT_SOURCE_DIR})
# -Wshadow=local is GCC's; clang (the fuzz build) does not know it.
target_compile_options(tellwick_settings INTERFACE -Wall -Wextra -Wpedantic
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
target_compile_definitions(tellwick_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    TELLWICK_VERSION="${PROJECT_VERSION}")
if(TELLWICK_WERROR)
    target_compile_options(tellwick_settings INTERFACE -Werror)
endif()
if(TELLWICK_SANITIZE)
    target_compile_options(tellwick_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(tellwick_settings INTERFACE -fsanitize=address,undefined)
endif()
# Fuzzing: every target is instrumented for libFuzzer's coverage and checked by AddressSanitizer
# and UndefinedBehaviorSanitizer, which stop at the first report; the fuzz programs add the
# fuzzer's own main (fuzz/CMakeLists.txt). Without clang's fuzzer runtime the fuzz tests are
# replaced by one that says so and is skipped.
set(TELLWICK_FUZZ_AVAILABLE OFF)
if(TELLWICK_FUZZ)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address,undefined")
    set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer,address,undefined")
    check_cxx_source_compiles(
        "#include <cstdint>\n#include <cstddef>\nextern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }"
        TELLWICK_HAVE_LIBFUZZER)
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(TELLWICK_HAVE_LIBFUZZER)
        set(TELLWICK_FUZZ_AVAILABLE ON)
        target_compile_options(tellwick_settings INTERFACE
            -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
            -fno-omit-frame-pointer -g)
        target_link_options(tellwick_settings INTERFACE -fsanitize=address,undefined)
    else()
        message(WARNING "TELLWICK_FUZZ: ${CMAKE_CXX_COMPILER} cannot build libFuzzer programs "
                        "(clang and libclang-rt-14-dev are needed); the fuzz tests are skipped")
        enable_testing()
        add_test(NAME fuzz.unavailable
            COMMAND sh -c "echo 'fuzz tests skipped: no libFuzzer runtime for ${CMAKE_CXX_COMPILER} (install clang and libclang-rt-14-dev)'; exit 77")
        set_tests_properties(fuzz.unavailable PROPERTIES LABELS fuzz SKIP_RETURN_CODE 77)
    endif()
endif()
set(CMAKE_CXX_EXTENSIONS OFF)
