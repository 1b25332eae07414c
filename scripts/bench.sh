#!/usr/bin/env bash
# Runs the benchmark suite on fresh demo databases and prints the table kept in
# docs/performance.md. Benchmarks report figures only: nothing here runs in CI or CTest.
#   bash scripts/bench.sh                 all sizes: 1000 10000 32767 100000
#   bash scripts/bench.sh 1000 10000      chosen sizes
# Environment: RUNS (runs per figure, default 7), WALK_RUNS (Next/Previous walks and search
# walks, default 3), START_RUNS (whole-process start-ups, default 7), SEED (demo data, 7),
# PARTS (which parts to run, default "store report splash start memory interchange jet"), RESULTS (a file the raw
# lines are added to, so parts run separately print as one table; without it they go to a
# fresh build/bench-results.tsv).
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 32767 100000)
runs=${RUNS:-7}
walk_runs=${WALK_RUNS:-3}
start_runs=${START_RUNS:-7}
seed=${SEED:-7}
parts=" ${PARTS:-store report splash start memory interchange jet} "
results=${RESULTS:-build/bench-results.tsv}

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORA_BENCHMARKS=ON >/dev/null
cmake --build build -j2 --target pelmora cntdbtool pelmora_bench pelmora_startbench \
    pelmora_interchangebench pelmora_jetbench >/dev/null

work=$(mktemp -d /tmp/pelmora-bench-run-XXXXXX)
xvfb_pid=
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# An X server of our own for the whole-process start-up: Xvfb picks a free display number
# itself. A black root lets the start-up timer tell a painted window from an unpainted one.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -br -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"

[ -n "${RESULTS:-}" ] || : >"$results"
run_part() { [[ "$parts" == *" $1 "* ]]; }
for size in "${sizes[@]}"; do
  db="$work/demo-$size.mdb"
  echo "bench: $size contacts" >&2
  build/tools/cntdbtool/cntdbtool create "$db" --demo "$size" --seed "$seed"
  QT_QPA_PLATFORM=offscreen build/benchmarks/pelmora_bench mark "$db"
  if run_part store; then
    QT_QPA_PLATFORM=offscreen build/benchmarks/pelmora_bench store "$db" "$runs" "$walk_runs" >>"$results"
  fi
  if run_part report; then
    # The offscreen platform says at every viewer that it cannot raise a window.
    QT_QPA_PLATFORM=offscreen build/benchmarks/pelmora_bench report "$db" "$runs" >>"$results" \
      2> >(grep -v "This plugin does not support" >&2)
  fi
  if run_part splash; then
    DISPLAY=$display QT_QPA_PLATFORM=xcb build/benchmarks/pelmora_bench splash "$db" "$runs" >>"$results"
  fi
  if run_part start; then
    DISPLAY=$display build/benchmarks/pelmora_startbench "$db" "$start_runs" >>"$results"
  fi
  if run_part interchange; then
    build/benchmarks/pelmora_interchangebench "$db" "$runs" >>"$results"
  fi
  if run_part memory; then
    DISPLAY=$display QT_QPA_PLATFORM=xcb build/benchmarks/pelmora_bench memory "$db" >>"$results"
  fi
  if run_part jet; then
    build/benchmarks/pelmora_jetbench "$size" "$runs" "$seed" >>"$results"
  fi
done

# The table: one row per figure, one column per size. A cell is the median in ms and, for
# figures measured beside the floor, the ratio to SQLite's own full read in the same run.
awk -F'\t' -v sizes="${sizes[*]}" '
  BEGIN { n = split(sizes, size, " ") }
  $1 == "figure" {
    key = $3
    if (!(key in seen)) { seen[key] = 1; order[++rows] = key }
    cell[key, $2] = ($5 == "-") ? sprintf("%.1f", $4) : sprintf("%.1f (%.2fx)", $4, $4 / $5)
    if (key ~ /^open: load/) floor[$2] = sprintf("%.1f", $5)
  }
  $1 == "memory" {
    key = "peak memory MiB: " $3
    if (!(key in seen)) { seen[key] = 1; order[++rows] = key }
    cell[key, $2] = sprintf("%.1f", $4 / 1024)
  }
  END {
    printf "| figure (median ms; ratio to the floor) |"
    for (i = 1; i <= n; ++i) printf " %s |", size[i]
    printf "\n|---|"
    for (i = 1; i <= n; ++i) printf "---:|"
    printf "\n| floor: SQLite reads the statement in full |"
    for (i = 1; i <= n; ++i) printf " %s |", floor[size[i]]
    printf "\n"
    for (r = 1; r <= rows; ++r) {
      printf "| %s |", order[r]
      for (i = 1; i <= n; ++i) {
        c = cell[order[r], size[i]]
        printf " %s |", (c == "" ? "-" : c)
      }
      printf "\n"
    }
  }' "$results"

echo
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores," \
  "$(free -m | awk '/^Mem:/ {printf "%.1f GiB", $2 / 1024}') memory;" \
  "Qt $(pkg-config --modversion Qt6Core 2>/dev/null || echo '?'), SQLite $(sqlite3 --version | cut -d' ' -f1)"
echo "Raw figures: $results"
