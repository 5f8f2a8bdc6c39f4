# One INTERFACE target carries the language level, warnings and defines; every target links it.
add_library(sarnika_compile_flags INTERFACE)
target_compile_features(sarnika_compile_flags INTERFACE cxx_std_20)
set_target_properties(sarnika_compile_flags PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)

target_compile_options(sarnika_compile_flags INTERFACE
    -Wall -Wextra -Wpedantic
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
    -Wformat=2)

if(SARNIKA_WARNINGS_AS_ERRORS)
    target_compile_options(sarnika_compile_flags INTERFACE -Werror)
    # GCC 12's optimiser reports members of freshly built records as maybe-uninitialized when
    # it vectorises their copies, and std::string concatenation as overlapping memcpy (both
    # known false positives); they stay warnings in optimised builds.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(sarnika_compile_flags INTERFACE
            $<$<NOT:$<CONFIG:Debug>>:-Wno-error=maybe-uninitialized -Wno-error=restrict>)
        # libstdc++ 12 trips -Wnull-dereference inside <streambuf> when optimising (file streams).
        target_compile_options(sarnika_compile_flags INTERFACE
            $<$<NOT:$<CONFIG:Debug>>:-Wno-error=null-dereference>)
    endif()
endif()

target_compile_definitions(sarnika_compile_flags INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)

if(WIN32)
    target_compile_definitions(sarnika_compile_flags INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

if(SARNIKA_FUZZ)
    target_compile_options(sarnika_compile_flags INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(sarnika_compile_flags INTERFACE -fsanitize=address,undefined)
endif()

if(SARNIKA_SANITIZE)
    target_compile_options(sarnika_compile_flags INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(sarnika_compile_flags INTERFACE -fsanitize=address,undefined)
endif()

include(GoogleTest)

# sarnika_add_test(<file>.test.cpp LIBS <libs...> [LABELS ...] [RESOURCE_LOCK name]): the target
# takes its name from the file.
function(sarnika_add_test source)
    cmake_parse_arguments(ARG "" "RESOURCE_LOCK" "LIBS;LABELS" ${ARGN})
    get_filename_component(name "${source}" NAME_WE)
    set(target "test_${name}")
    add_executable(${target} ${source})
    target_link_libraries(${target} PRIVATE sarnika_compile_flags GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBS})
    if(CMAKE_CROSSCOMPILING)
        # The programs run under the emulator (Wine), so their cases are listed when ctest
        # starts rather than after the build; a cold Wine needs its time for that.
        gtest_discover_tests(${target}
            DISCOVERY_MODE PRE_TEST
            DISCOVERY_TIMEOUT 120
            PROPERTIES
                ENVIRONMENT "SARNIKA_SHARED=${SARNIKA_SHARED_DIR}"
                LABELS "${ARG_LABELS}"
                RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
        return()
    endif()
    add_test(NAME ${name} COMMAND ${target})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "SARNIKA_SHARED=${SARNIKA_SHARED_DIR}"
        LABELS "${ARG_LABELS}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()

# sarnika_add_fuzzer(<file>.fuzz.cpp LIBS <libs...>): a libFuzzer target, built only with
# SARNIKA_FUZZ (clang). The target is named fuzz_<file>.
function(sarnika_add_fuzzer source)
    if(NOT SARNIKA_FUZZ)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    get_filename_component(name "${source}" NAME_WE)
    add_executable(fuzz_${name} ${source})
    target_link_libraries(fuzz_${name} PRIVATE sarnika_compile_flags ${ARG_LIBS})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY SARNIKA_FUZZERS fuzz_${name})
endfunction()
