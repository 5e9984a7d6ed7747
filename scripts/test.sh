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

# pytest exits 5 when it collected no test (for example a -k filter that
# matches nothing); that is not a failure of the code under test.
status=0
python3 -m pytest -q tests/python "$@" || status=$?
if [ "$status" -eq 5 ]; then
  echo "pytest: no tests collected"
  status=0
fi
exit "$status"
