#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time over its seed
# corpus (fuzz/corpus/<target>). New inputs go to a scratch folder, so the kept corpus only
# changes when someone copies a finding in. Fails on any crash, leak, hang or mismatch.
#   bash fuzz/run.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

for target in "$build"/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    name=${name#fuzz_}
    time=$seconds
    extra=()
    if [ "$name" = jetreader ]; then
        # libmdb, which the Jet reader drives, is not built for fuzzing: 30 s is enough. It
        # crashes on hostile files and is not ours to fix; the reader process contains that.
        # So the run goes on past crashes, hangs and memory blow-ups (-fork); below, each is
        # run again and fails the run when its innermost frame of libmdb's or ours is ours.
        time=$(( seconds < 30 ? seconds : 30 ))
        extra=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
        rm -rf "$build/findings/$name" "$build/findings/$name.contained"
    fi
    scratch=$(mktemp -d)
    mkdir -p "$build/findings/$name"
    echo "fuzz: $name for ${time}s"
    # -timeout: a single input that runs for 10 s is a hang.
    log="$build/findings/$name.log"
    set +e
    "$target" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$name/" ${extra[@]+"${extra[@]}"} \
        "$scratch" "fuzz/corpus/$name" >"$log" 2>&1
    status=$?
    set -e
    grep -E '^(Done [0-9]+ runs|#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR|SUMMARY|INFO: seed)' "$log" || true
    rm -rf "$scratch"
    # With -fork, findings make the exit status non-zero; they are judged one by one below.
    if [ "$status" -ne 0 ] && { [ ${#extra[@]} -eq 0 ] || [ -z "$(ls -A "$build/findings/$name")" ]; }; then
        tail -n 40 "$log"
        echo "fuzz: $name failed (exit $status); the input is in $build/findings/$name/"
        exit 1
    fi
    for finding in "$build/findings/$name"/*; do
        [ -f "$finding" ] || continue
        [ "$name" = jetreader ] || continue
        kind=$(basename "$finding" | cut -d- -f1)
        report=$(timeout 60 "$target" -timeout=10 -rss_limit_mb=2048 "$finding" 2>&1 || true)
        # Whose is it: the innermost frame that is libmdb's or ours.
        frame=$(grep -E '^ +#[0-9]+ ' <<<"$report" \
            | grep -m1 -E 'libmdb\.so|tools/jetreader/|fuzz_jetreader\.cpp' || true)
        if [[ "$frame" != *libmdb.so* ]]; then
            echo "$report" | tail -n 40
            echo "fuzz: $name: $kind outside libmdb; the input is $finding"
            exit 1
        fi
        echo "$kind in libmdb: $(grep -m1 -o 'SUMMARY: .*' <<<"$report" | sed 's/ (BuildId[^)]*)//' || true)" \
            >>"$build/findings/$name.contained"
    done
    if [ -f "$build/findings/$name.contained" ]; then
        echo "fuzz: $name: contained in the reader process (inputs in $build/findings/$name/):"
        sort "$build/findings/$name.contained" | uniq -c
    fi
done
