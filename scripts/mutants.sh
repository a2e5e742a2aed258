#!/usr/bin/env bash
# The mutation check: breaks the code by rule, one mutant at a time, in a copy of the tree
# (build-mutants/), and prints each mutant that the tests of its layer do not notice.
#   scripts/mutants.sh [--max N] [--only PATH] [--seed N] [--sample N] [--planted-only] [--key KEY]... [--list]
# See HACKING.md.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v python3 >/dev/null; then
  echo "mutants: python3 is missing (apt-get install python3)" >&2
  exit 1
fi
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=true
exec python3 scripts/mutants/mutants.py "$@"
