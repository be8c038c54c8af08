#!/bin/sh
# Fails when a tracked C or C++ file is not formatted as .clang-format says; prints what
# clang-format would change. Run `clang-format -i FILE...` to mend.
set -eu
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "every C and C++ file is formatted"
