#!/bin/bash
# Runs one libFuzzer target of build-fuzz/ over a copy of its seed corpus and prints its final stats.
# From the repository root:  /work/isolated fuzz/run_fuzzer.sh <target> <seed folder> <seconds> [executions]
# (stops at whichever limit comes first).
t=$1; seeds=$2; secs=$3; runs=${4:--1}
run=build-fuzz/runs/$t
mkdir -p $run/corpus $run/artifacts
cp -n $seeds/* $run/corpus/ 2>/dev/null
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
unset DISPLAY
build-fuzz/fuzz/${t}_fuzz -max_total_time=$secs -runs=$runs -print_final_stats=1 -artifact_prefix=$run/artifacts/ \
    -rss_limit_mb=2048 -timeout=10 $run/corpus > $run/log 2>&1
echo "rc=$?" >> $run/log
grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|rc=|ERROR|SUMMARY|runtime error" $run/log | head -8
