#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on a copy of its committed corpus.
# Usage: run-fuzzer.sh FUZZER CORPUS WORKDIR SECONDS TIMEOUT
set -euo pipefail
fuzzer=$1 corpus=$2 work=$3 seconds=$4 timeout=$5
rm -rf "$work/corpus"
mkdir -p "$work/corpus"
cp -r "$corpus"/. "$work/corpus/"
# A finding stops the run at once and is kept in $work for a regression case.
exec "$fuzzer" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus"
