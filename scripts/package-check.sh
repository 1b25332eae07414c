#!/usr/bin/env bash
# Builds the .deb as a packager would (Debian's hardening flags, warnings not errors), unpacks
# it into a temporary root with dpkg-deb -x (it is never installed on this machine), validates
# the desktop entry, the AppStream metainfo and the package (lintian: no errors), and starts
# the unpacked program under its own Xvfb with a temporary HOME:
#   - a first start makes ~/.local/share/pelmora with the template files and shows the empty
#     address book;
#   - a second start keeps a changed settings.ini and puts back a file that was removed;
#   - pelmora-contacts without --db uses the same folder;
#   - a HOME the user cannot write (run as nobody) gives the message naming the folder, and the
#     program ends with status 1.
# With --shots DIR it also saves the icon at 16, 48 and 256 px and screenshots of the windows.
# Fails at the first check that fails.
set -euo pipefail
cd "$(dirname "$0")/.."

shots=""
if [ "${1:-}" = "--shots" ]; then
    shots=$(realpath -m "$2")
    mkdir -p "$shots"
fi

bash scripts/setup.sh

fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}

build=build-package
version=$(sed -n 's/^project(Pelmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
deb="$build/pelmora_${version}_amd64.deb"

echo "package-check: building $deb"
# The flags dpkg-buildpackage would give a packager's build; -Werror is never forced here.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DPELMORA_TESTS=OFF -DPELMORA_BENCHMARKS=OFF -DPELMORA_WERROR=OFF >/dev/null
cmake --build "$build" -j2
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "cpack made no $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

tmp=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
# The user nobody walks through it to the unpacked program.
chmod 755 "$tmp"
root="$tmp/root"
dpkg-deb -x "$deb" "$root"

echo "package-check: files"
share="$root/usr/share"
for f in usr/bin/pelmora usr/bin/pelmora-contacts usr/lib/pelmora/pelmora-jetreader \
    usr/share/pelmora/cntdb.mdb usr/share/pelmora/phonelist.rpt \
    usr/share/pelmora/addresslist.rpt usr/share/pelmora/emaillist.rpt \
    "usr/share/pelmora/Program Data/settings.ini" "usr/share/pelmora/Program Data/crystl32.ini" \
    "usr/share/pelmora/Program Data/ProgramInfo.txt" \
    usr/share/applications/org.pelmora.Pelmora.desktop \
    usr/share/metainfo/org.pelmora.Pelmora.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.pelmora.Pelmora.svg \
    usr/share/man/man1/pelmora.1.gz usr/share/man/man1/pelmora-contacts.1.gz \
    usr/share/doc/pelmora/copyright usr/share/doc/pelmora/changelog.gz; do
    [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for size in 16 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/org.pelmora.Pelmora.png"
    [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
[ "$(sqlite3 "$share/pelmora/cntdb.mdb" 'SELECT count(*) FROM contactsdb')" = 0 ] ||
    fail "the template address book is not empty"

echo "package-check: desktop-file-validate"
desktop-file-validate "$share/applications/org.pelmora.Pelmora.desktop"
echo "package-check: appstreamcli validate --no-net"
appstreamcli validate --no-net "$share/metainfo/org.pelmora.Pelmora.metainfo.xml"
echo "package-check: lintian"
# Errors fail the check; warnings are printed and listed, with why each is left, in the README.
lintian --fail-on error "$deb"

echo "package-check: the unpacked program under Xvfb"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$tmp/display")"
export QT_QPA_PLATFORM=xcb
unset XDG_DATA_HOME

home="$tmp/home"
mkdir -p "$home"
folder="$home/.local/share/pelmora"
main_title='^Pelmora - Contacts Listing$'

# Starts the unpacked program with HOME, waits for its main window and ends it.
start_and_close() {
    HOME="$1" "$root/usr/bin/pelmora" 2>>"$tmp/pelmora.err" &
    local pid=$!
    timeout 60 xdotool search --sync --onlyvisible --name "$main_title" >/dev/null ||
        fail "no main window; the program said: $(cat "$tmp/pelmora.err")"
    [ -z "$2" ] || import -window root "$2"
    kill "$pid"
    wait "$pid" || true
}

start_and_close "$home" "${shots:+$shots/installed-main-window.png}"
(cd "$share/pelmora" && find . -type f) | while read -r f; do
    cmp -s "$share/pelmora/$f" "$folder/$f" || fail "first start: $folder/$f is not the template"
done
[ "$(sqlite3 "$folder/cntdb.mdb" 'SELECT count(*) FROM contactsdb')" = 0 ] ||
    fail "the new address book is not empty"
echo "package-check: first start made $folder with the templates"

printf '[settings]\r\nsorttype=firstname\r\n' >"$folder/Program Data/settings.ini"
rm "$folder/Program Data/ProgramInfo.txt"
start_and_close "$home" ""
[ "$(cat "$folder/Program Data/settings.ini")" = "$(printf '[settings]\r\nsorttype=firstname\r')" ] ||
    fail "a second start changed settings.ini"
cmp -s "$share/pelmora/Program Data/ProgramInfo.txt" "$folder/Program Data/ProgramInfo.txt" ||
    fail "a second start did not put ProgramInfo.txt back"
echo "package-check: a second start kept settings.ini and put back a missing file"

printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dunn;Al;;;\r\nFN:Al Dunn\r\nEND:VCARD\r\n' >"$tmp/card.vcf"
HOME="$home" "$root/usr/bin/pelmora-contacts" import "$tmp/card.vcf" 2>"$tmp/import.err" ||
    fail "pelmora-contacts import: $(cat "$tmp/import.err")"
grep -qF "into $folder/cntdb.mdb" "$tmp/import.err" ||
    fail "pelmora-contacts did not use $folder: $(cat "$tmp/import.err")"
[ "$(sqlite3 "$folder/cntdb.mdb" "SELECT count(*) FROM contactsdb WHERE lastname = 'Dunn'")" = 1 ] ||
    fail "the imported contact is not in $folder/cntdb.mdb"
home2="$tmp/home2"
mkdir -p "$home2"
HOME="$home2" "$root/usr/bin/pelmora-contacts" export - >/dev/null ||
    fail "pelmora-contacts export on a fresh HOME"
[ -f "$home2/.local/share/pelmora/Program Data/settings.ini" ] ||
    fail "pelmora-contacts did not fill the folder of a fresh HOME"
echo "package-check: pelmora-contacts uses and fills the same folder"

# The installed tool must find the Jet reader in the helpers' folder, not beside itself.
jetgen=${JETGEN:-build/tests/support/jetgen}
if [ -x "$jetgen" ]; then
    "$jetgen" "$tmp/old.mdb" --jet4 --rows 3 --seed 1 >/dev/null
    HOME="$home" "$root/usr/bin/pelmora-contacts" import "$tmp/old.mdb" 2>"$tmp/jet.err" ||
        fail "pelmora-contacts import of a Jet file: $(cat "$tmp/jet.err")"
    echo "package-check: the installed Jet reader read a Jet file"
else
    echo "package-check: no $jetgen (build the tests first): the Jet reader was not started"
fi

# Root may write anywhere, so the denied case runs as nobody, in a HOME owned by root.
rohome="$tmp/rohome"
mkdir -m 755 "$rohome"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME="$rohome" "$root/usr/bin/pelmora" 2>"$tmp/ro.err" &
ro_pid=$!
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^Pelmora$' | head -n 1) ||
    fail "no message for a read-only HOME; the program said: $(cat "$tmp/ro.err")"
! xdotool search --onlyvisible --name "$main_title" >/dev/null ||
    fail "the main window opened with a read-only HOME"
[ -z "$shots" ] || import -window root "$shots/installed-readonly-home.png"
xdotool windowfocus --sync "$box" key Return
status=0
timeout 30 tail --pid="$ro_pid" -f /dev/null || fail "the program did not end after the message"
wait "$ro_pid" || status=$?
[ "$status" = 1 ] || fail "the program ended with status $status, not 1"
grep -qF "File: $rohome/.local/share/pelmora" "$tmp/ro.err" && grep -qF "Permission denied" "$tmp/ro.err" ||
    fail "the message does not name the folder and the reason: $(cat "$tmp/ro.err")"
[ ! -e "$rohome/.local" ] || fail "something was made in the read-only HOME"
echo "package-check: a read-only HOME gives the message and the program ends"

if [ -n "$shots" ]; then
    for size in 16 48 256; do
        # Enlarged without smoothing to 256 px, so each pixel of the small icons can be seen.
        convert "$share/icons/hicolor/${size}x${size}/apps/org.pelmora.Pelmora.png" \
            -background white -alpha remove -filter point -resize 256x256 \
            "$shots/icon-$size.png"
    done
fi
echo "package-check: all passed"
