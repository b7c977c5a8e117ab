#!/usr/bin/env bash
# Mutation testing of the product's sources against the tests (see
# scripts/mutate.py): scripts/mutate.sh [--seed N] [--count N] [--files LIST]
# [--jobs N] [--tests-from COMMIT] [--share]. Long (about an hour for 300
# mutants on two cores); not part of the test command.
set -euo pipefail
exec python3 "$(dirname "$0")/mutate.py" "$@"
