#!/usr/bin/env bash
# Runs every test: the C++ core tests (plain and under ASan+UBSan) via ctest,
# then the Python tests. Expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

for variant in plain sanitize; do
  dir="build-tests-$variant"
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUARN_BUILD_PYTHON=OFF -DQUARN_BUILD_TESTS=ON -DQUARN_BUILD_FUZZ=ON -DQUARN_SANITIZE=$sanitize >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done

# ThreadSanitizer over the tests that run work on the pool (searches, change
# queries, the FST value loader). The pool runs on std::thread here: the
# system's TBB is not instrumented, and TSan would take each of its task
# hand-overs for a race.
tsan=build-tests-tsan
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_PYTHON=OFF \
  -DQUARN_BUILD_TESTS=ON -DQUARN_BUILD_FUZZ=OFF -DQUARN_TSAN=ON >/dev/null
cmake --build "$tsan" -j "$jobs" --target quarn_core_tests quarn_fst_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
# Chunked VCD parses are compared on generated and hand-written inputs here;
# their comparison over the whole corpus runs in the stages above (under
# TSan it would take half an hour).
RAYON_NUM_THREADS=4 "$tsan/tests/core/quarn_core_tests" --gtest_brief=1 \
  --gtest_filter='SearchMatchesModel*:*QueryDiff*:*ChangedAt*:Transitions*:DeepTrees*:VcdParallel.Generated*:VcdParallel.Seams*:VcdParallel.Stop*'
RAYON_NUM_THREADS=4 "$tsan/tests/core/quarn_fst_tests" --gtest_brief=1 \
  --gtest_filter='*FstReaderPacking*:FstCorpus*'
unset TSAN_OPTIONS

# A fixed number of mutated inputs per reader under ASan+UBSan (a few
# minutes in all); a crash leaves its input in ./fuzz-finding (fuzz/README.md).
fuzz="build-tests-sanitize/fuzz"
fst_seeds=../shared/corpus/my-hdl
[ -d "$fst_seeds" ] || fst_seeds=/usr/share/doc/gtkwave/examples
"$fuzz/fuzz_vcd_mutate" fuzz/corpus/vcd 100000 1
"$fuzz/fuzz_shm_mutate" fuzz/corpus/shm 200000 1
"$fuzz/fuzz_vpd_mutate" fuzz/corpus/vpd 200000 1
"$fuzz/fuzz_wlf_mutate" fuzz/corpus/wlf 100000 1
"$fuzz/fuzz_fsdb_mutate" fuzz/corpus/fsdb 50000 1
"$fuzz/fuzz_fst_mutate" "$fst_seeds" 20000 1 .fst

# pytest exits 5 when it collected no test (for example a -k filter that
# matches nothing); that is not a failure of the code under test.
status=0
python3 -m pytest -q tests/python "$@" || status=$?
if [ "$status" -eq 5 ]; then
  echo "pytest: no tests collected"
  status=0
fi
exit "$status"
