#!/usr/bin/env bash
# Times whole pelmora-contacts sync runs against a Radicale started here (temporary storage,
# a free port): the first sync of N contacts into an empty address book, the first sync of
# those back into an empty database, and an incremental sync with one change on each side.
# Figures only; nothing here runs in CI or CTest.
#   bash scripts/bench-sync.sh [N]        default 10000
# Radicale's PUT costs time in proportion to the address book's size (about 140 ms each at 5,000
# cards, with or without other requests in parallel), so the first upload of 10,000 takes about
# half an hour. UPLOAD=no skips it: the server's storage is filled directly with the same
# contacts, exported by pelmora-contacts, and both databases start with a first sync down.
# Environment: BUILD (a build folder holding Pelmora/pelmora-contacts and cntdbtool; default
# build, configured RelWithDebInfo and built here).
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-10000}
build=${BUILD:-build}
if [ -z "${BUILD:-}" ]; then
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target pelmora-contacts cntdbtool >/dev/null
fi
tool=$PWD/$build/Pelmora/pelmora-contacts
cntdbtool=$PWD/$build/tools/cntdbtool/cntdbtool

work=$(mktemp -d /tmp/pelmora-bench-sync-XXXXXX)
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/storage/collection-root/alice/contacts"
echo '{"D:displayname": "Contacts", "tag": "VADDRESSBOOK"}' \
  > "$work/storage/collection-root/alice/contacts/.Radicale.props"
echo 'alice:secret' > "$work/users"
cat > "$work/config" <<CONF
[server]
hosts = 127.0.0.1:$port
[auth]
type = htpasswd
htpasswd_filename = $work/users
htpasswd_encryption = plain
[storage]
filesystem_folder = $work/storage
[rights]
type = owner_only
[logging]
level = warning
CONF
radicale --config "$work/config" >"$work/radicale.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break
  sleep 0.1
done
install -m 600 /dev/null "$work/pw" && echo secret > "$work/pw"

"$cntdbtool" create "$work/a.mdb" --demo "$count" --seed 7 >/dev/null
"$cntdbtool" create "$work/b.mdb" >/dev/null
for db in a b; do
  "$tool" sync setup "http://127.0.0.1:$port/" --user alice --password-file "$work/pw" \
    --db "$work/$db.mdb" >/dev/null 2>&1
done
timed() { # label, then the command; prints the wall time in seconds
  local label=$1; shift
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  end=$(date +%s.%N)
  awk -v l="$label" -v n="$count" -v a="$start" -v b="$end" \
    'BEGIN { printf "%s\t%d\t%.2f s\n", l, n, b - a }'
}
if [ "${UPLOAD:-yes}" = no ]; then
  "$tool" export --db "$work/a.mdb" "$work/all.vcf" >/dev/null 2>&1
  python3 - "$work/all.vcf" "$work/storage/collection-root/alice/contacts" <<'PY'
import sys
cards = open(sys.argv[1], encoding="utf-8").read().split("BEGIN:VCARD\n")[1:]
for n, card in enumerate(cards):
    lines = ["BEGIN:VCARD"] + card.rstrip("\n").split("\n")
    lines.insert(2, f"UID:bench-{n}")
    with open(f"{sys.argv[2]}/bench-{n}.vcf", "w", encoding="utf-8", newline="") as out:
        out.write("\r\n".join(lines) + "\r\n")
PY
  rm "$work/a.mdb" && "$cntdbtool" create "$work/a.mdb" >/dev/null
  "$tool" sync setup "http://127.0.0.1:$port/" --user alice --password-file "$work/pw" \
    --db "$work/a.mdb" >/dev/null 2>&1
  timed "first sync down (server cache cold)" "$tool" sync --db "$work/a.mdb" --password-file "$work/pw"
else
  timed "first sync up (empty address book)" "$tool" sync --db "$work/a.mdb" --password-file "$work/pw"
fi
timed "first sync down (empty database)" "$tool" sync --db "$work/b.mdb" --password-file "$work/pw"
# One change on each side, b's sent to the server first; five rounds, each figure their median.
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.2f s", v[int((NR + 1) / 2)] }'; }
seconds() { # the wall time of the command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
: > "$work/changed"; : > "$work/unchanged"
for round in 1 2 3 4 5; do
  sqlite3 "$work/b.mdb" "UPDATE contactsdb SET Cell = '555 010$round' WHERE rowid = 17"
  "$tool" sync --db "$work/b.mdb" --password-file "$work/pw" >/dev/null 2>&1
  sqlite3 "$work/a.mdb" "UPDATE contactsdb SET Notes = 'changed here $round' WHERE rowid = 42"
  seconds "$tool" sync --db "$work/a.mdb" --password-file "$work/pw" >> "$work/changed"
  seconds "$tool" sync --db "$work/a.mdb" --password-file "$work/pw" >> "$work/unchanged"
done
printf 'incremental, one change each side (sync token)\t%d\t%s\n' "$count" "$(median < "$work/changed")"
printf 'incremental, nothing changed\t%d\t%s\n' "$count" "$(median < "$work/unchanged")"
