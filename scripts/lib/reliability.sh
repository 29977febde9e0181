# Instrumented runs beside the plain test suite: sanitizers, valgrind, libFuzzer.
# Sourced after common.sh.
# shellcheck shell=bash

asan_build_dir=${MOTREL_ASAN_BUILD_DIR:-$top/build-asan}
fuzz_build_dir=${MOTREL_FUZZ_BUILD_DIR:-$top/build-fuzz}
sanitize_dir=$top/tests/sanitize
# Whole-program runs of the real executable and packaging checks stay in the plain build.
instrumented_skip='e2e|faults|fuzz|packaging|bench'

# Every unit and scene test, built with AddressSanitizer and UBSan (g++), leaks checked.
sanitizer_tests() {
    configure_and_build "$asan_build_dir" "$(nproc)" -DMOTREL_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
    LSAN_OPTIONS=suppressions=$sanitize_dir/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        isolated_ctest --test-dir "$asan_build_dir" --output-on-failure --timeout 900 \
            -j "$(nproc)" -LE "$instrumented_skip"
}

# The back-end tests of the plain build under valgrind: any memory error or any
# block lost for good (a BackEnd that does not release what it owns) fails.
memcheck_backend() {
    local tests test failed=0
    mapfile -t tests < <(find "$build_dir/tests/backend" "$build_dir/tests/drivers" -maxdepth 1 \
                              -type f -executable -name 'tst_*' 2>/dev/null | sort)
    [ ${#tests[@]} -gt 0 ] || die "no back-end tests under $build_dir/tests"
    for test in "${tests[@]}"; do
        say "memcheck ${test#"$top"/}"
        QT_QPA_PLATFORM=offscreen isolated valgrind --quiet --leak-check=full \
            --errors-for-leak-kinds=definite --error-exitcode=99 \
            --suppressions="$sanitize_dir/valgrind.supp" "$test" -silent || failed=1
    done
    [ "$failed" -eq 0 ] || die "memcheck found memory errors or leaks"
}

# Builds the libFuzzer targets with clang; each ctest then fuzzes for the given seconds.
fuzz_build() {
    local seconds=$1
    CXX=clang++ configure_and_build "$fuzz_build_dir" "$(nproc)" -DMOTREL_FUZZ=ON -DMOTREL_SANITIZE=ON \
        -DMOTREL_FUZZ_SECONDS="$seconds" -- fuzz_decoder fuzz_datagrams
}

fuzz_run() {
    local seconds=$1
    isolated_ctest --test-dir "$fuzz_build_dir" --output-on-failure -L fuzz \
        --timeout $((seconds + 300))
}
