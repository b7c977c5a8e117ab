#!/usr/bin/env bash
# Mutation testing of the product's sources against the tests (see
# scripts/mutate.py): scripts/mutate.sh [--seed N] [--count N] [--files LIST]
# [--share]. Long (about a minute per mutant on two cores); not part of the
# test command.
set -euo pipefail
exec python3 "$(dirname "$0")/mutate.py" "$@"
