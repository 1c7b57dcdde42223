#!/usr/bin/env bash
# run.sh - installing and packages, checked from the outside:
#
#   1. cmake --install of the native build into a folder that is then
#      moved (the installed tree must not depend on where it was put); a
#      small C host (consumer/) is built against it with find_package and
#      with pkg-config and run; the installed orvw finds its library and
#      the plug-ins; the man page names every option of orvw --help; the
#      station's systemd unit names the installed orvw and passes
#      systemd-analyze verify (where systemd-analyze is installed).
#   2. The Debian package: its file list, its fields, its maintainer
#      scripts, and orvw run from the unpacked package.
#   3. The zip of each Windows build: its file list, the exports of every
#      DLL, no MinGW runtime DLL needed, the import library's names; the
#      win64 orvw.exe run from the unpacked zip under Wine when Wine and the
#      Wine tests' prefix are there.
#
# Usage: tests/install/run.sh (build folders from NATIVE_DIR, WIN64_DIR,
# WIN32_DIR; a Windows build that is not there is skipped).  The last line
# is "install: N passed, M failed" (", K skipped" after it); the exit
# status is non-zero on any failure.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
NATIVE_DIR=${NATIVE_DIR:-$ROOT/build/native}
WIN64_DIR=${WIN64_DIR:-$ROOT/build/win64}
WIN32_DIR=${WIN32_DIR:-$ROOT/build/win32}
WINE_PREFIX_DIR=${WINEPREFIX:-$ROOT/build/wineprefix}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/orv5-install.XXXXXX")
ZDXSIM=$NATIVE_DIR/bin/zdxsim
BG_PIDS=()
trap 'kill "${BG_PIDS[@]}" 2>/dev/null || true; rm -rf "$WORK"' EXIT
SKIPPED=0
CONTEXT=

. "$ROOT/tests/support/check_lib.sh"
. "$ROOT/tests/support/zdxsim_lib.sh"
check_context() { echo "${CONTEXT:-see above}"; }
skip() { SKIPPED=$((SKIPPED + 1)); echo "SKIP: $1 ($2)"; }

finish() {
    local skipped=
    [ "$SKIPPED" = 0 ] || skipped=", $SKIPPED skipped"
    echo "install: $PASSED passed, $FAILED failed$skipped"
    [ "$FAILED" = 0 ]
    exit $?
}

# ---- predicates -------------------------------------------------------------

# same_list WHAT ACTUAL-FILE EXPECTED-FILE: the two sorted lists agree.
same_list() {
    local d
    d=$(diff <(sort -u "$2") <(sort -u "$3") | grep '^[<>]' | head -8 | tr '\n' ' ' || true)
    [ -z "$d" ] && return 0
    WHY="$1: < has, > lacks: $d"
    return 1
}

# exports_are DLL OBJDUMP NAME...: the DLL exports exactly these names.
exports_are() {
    local dll=$1 objdump=$2
    shift 2
    local got want
    got=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && /^\t\[/{print $NF; next} t{t=0}' | sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$got" = "$want" ] && return 0
    WHY="$(basename "$dll") exports '$got', wanted '$want'"
    return 1
}

# no_runtime_dlls DLL OBJDUMP: needs no MinGW runtime DLL beside it.
no_runtime_dlls() {
    local bad
    bad=$("$2" -p "$1" | sed -n 's/^\tDLL Name: //p' | grep -iE 'libgcc|libstdc|libwinpthread' || true)
    [ -z "$bad" ] && return 0
    WHY="$(basename "$1") needs $bad"
    return 1
}

# has_symbol LIB NM SYMBOL: the archive defines the symbol.
has_symbol() {
    local symbols
    symbols=$("$2" "$1" 2>/dev/null || true)
    grep -qE " [A-Z] $3\$" <<<"$symbols" && return 0
    WHY="$(basename "$1") has no $3"
    return 1
}

# exec_start UNIT-FILE: the program of its ExecStart line.
exec_start() { sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$1"; }

# unit_checks ROOT WHAT: the unit under ROOT starts ROOT's orvw as a
# collecting station for its instance, with the instance's settings, and
# systemd-analyze verify finds nothing to say about it.
unit_checks() {
    local root=$1 what=$2 unit=$1/$UNIT out rc=0
    CONTEXT="unit: $(grep -E '^(ExecStart|EnvironmentFile|Restart)' "$unit" 2>/dev/null | tr '\n' ' ')"
    check "$what: the station's unit starts the installed orvw for its instance" \
        nonempty "$unit" -- is program "$(exec_start "$unit")" "$root/bin/orvw" -- \
        has_line "$unit" '^EnvironmentFile=/etc/orv5w32/%i\.conf$' -- \
        has_line "$unit" '^ExecStart=[^ ]*/orvw --collect \$\{DIR\} "--device=\$\{DEVICE\}" --station=%i \$OPTIONS$' -- \
        has_line "$unit" '^Restart=on-failure$' -- has_line "$unit" '^RestartSec=[1-9]' -- \
        has_line "$unit" '^StandardError=journal$'
    if ! command -v systemd-analyze >/dev/null 2>&1; then
        skip "$what: systemd-analyze verify of the station's unit" "no systemd-analyze"
        return 0
    fi
    # The man page is not where man looks (the tree is not installed yet).
    out=$(systemd-analyze verify --man=no "$unit" 2>&1) || rc=$?
    CONTEXT="systemd-analyze: $out"
    check "$what: systemd-analyze verify passes the station's unit without a word" \
        is status "$rc" 0 -- is output "$out" ""
}

# ---- 1. install, consumers --------------------------------------------------

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$NATIVE_DIR/CMakeCache.txt")
[ -n "$VERSION" ] || { fail "native build configured" "no $NATIVE_DIR/CMakeCache.txt"; finish; }
echo "version $VERSION"

CONTEXT="log: $WORK/install.log"
RC=0
cmake --install "$NATIVE_DIR" --prefix "$WORK/stage" >"$WORK/install.log" 2>&1 || RC=$?

# The station's unit, checked where it was installed: systemd wants the
# program it starts to be there.
UNIT=lib/systemd/system/orvw-collect@.service
unit_checks "$WORK/stage" "install"

mv "$WORK/stage" "$WORK/moved"
P=$WORK/moved
find "$P" -type f -o -type l | sed "s|^$P/||" >"$WORK/installed.txt"
cat >"$WORK/installed-want.txt" <<LIST
bin/orvw
bin/zdxsim
include/orv5w32.h
include/orv5_adapter.h
lib/libOrv5w32.so
lib/libOrv5w32.so.1
lib/libOrv5w32.so.$VERSION
lib/orv5w32/Orv5AIRM.so
lib/orv5w32/Orv5EESI.so
lib/orv5w32/Orv5FMIR.so
lib/orv5w32/Orv5KKCI.so
lib/cmake/Orv5w32/Orv5w32Config.cmake
lib/cmake/Orv5w32/Orv5w32ConfigVersion.cmake
lib/cmake/Orv5w32/Orv5w32Targets.cmake
lib/cmake/Orv5w32/Orv5w32Targets-relwithdebinfo.cmake
lib/pkgconfig/orv5w32.pc
share/man/man1/orvw.1
share/man/man1/zdxsim.1
share/doc/orv5w32/README.md
share/doc/orv5w32/LICENSE
share/doc/orv5w32/examples/cradle1.conf
lib/systemd/system/orvw-collect@.service
LIST
check "install: cmake --install puts every file in its place, nothing else" \
    is status "$RC" 0 -- same_list "installed files" "$WORK/installed.txt" "$WORK/installed-want.txt"

CONTEXT="moved tree $P"
"$P/bin/orvw" --version >"$WORK/version.txt" 2>&1 || true
check "install: the moved orvw finds its library and prints both versions" \
    is version "$(cat "$WORK/version.txt")" "orvw $VERSION (library Orv5w32 1.01S)"
"$P/bin/orvw" --help >"$WORK/help.txt" 2>&1 || true
check "install: orvw --help lists the four plug-ins of the installed folder" \
    has_line "$WORK/help.txt" "^Adapter plug-ins for \+I in $P/.*lib/orv5w32:\$" -- \
    has_line "$WORK/help.txt" '^  Orv5AIRM   Alps  Ir MultiStation$' -- \
    has_line "$WORK/help.txt" '^  Orv5EESI   Extended Systems  ESI-9680$' -- \
    has_line "$WORK/help.txt" '^  Orv5FMIR   Fujitsu FMIR-102$' -- \
    has_line "$WORK/help.txt" '^  Orv5KKCI   Kansai  KC-IR1$'
check "install: a plug-in named without a path is found in the installed folder" \
    is device "$("$P/bin/orvw" --adapter-info=Orv5FMIR 2>&1 || true)" "Fujitsu FMIR-102"

# Every orvw option that --help names is described in the man page.
missing=
for opt in $(grep -oE -- '--[a-z][a-z-]*' "$WORK/help.txt" | sort -u); do
    grep -qF -- "$(printf '%s' "$opt" | sed 's/-/\\-/g')" "$P/share/man/man1/orvw.1" || missing="$missing $opt"
done
check "install: orvw.1 describes every option of --help" is "options missing from orvw.1" "$missing" ""
man_warnings=$(MANWIDTH=80 man --warnings -l "$P/share/man/man1/orvw.1" "$P/share/man/man1/zdxsim.1" 2>&1 >/dev/null || true)
check "install: the man pages format without warnings" is warnings "$man_warnings" ""

CONTEXT="log: $WORK/cmake-consumer.log"
RC=0
{ cmake -S "$ROOT/tests/install/consumer" -B "$WORK/cmake-consumer" -DCMAKE_PREFIX_PATH="$P" &&
  cmake --build "$WORK/cmake-consumer" &&
  "$WORK/cmake-consumer/consumer"; } >"$WORK/cmake-consumer.log" 2>&1 || RC=$?
check "install: a host built with find_package(Orv5w32 CONFIG) runs" \
    is status "$RC" 0 -- has_line "$WORK/cmake-consumer.log" '^consumer: ok$'
check "install: the package names the installed plug-in folder" \
    is Orv5w32_PLUGIN_DIR "$(cat "$WORK/cmake-consumer/plugin_dir.txt" 2>/dev/null)" "$P/lib/orv5w32"

CONTEXT="log: $WORK/pc-consumer.log"
RC=0
export PKG_CONFIG_PATH=$P/lib/pkgconfig
{ pkg-config --exists orv5w32 &&
  cc -o "$WORK/pc-consumer" "$ROOT/tests/install/consumer/consumer.c" \
     $(pkg-config --cflags --libs orv5w32) -Wl,-rpath,"$(pkg-config --variable=libdir orv5w32)" &&
  "$WORK/pc-consumer"; } >"$WORK/pc-consumer.log" 2>&1 || RC=$?
check "install: a host built with pkg-config orv5w32 runs" \
    is status "$RC" 0 -- has_line "$WORK/pc-consumer.log" '^consumer: ok$' -- \
    is version "$(pkg-config --modversion orv5w32 2>&1)" "$VERSION"
unset PKG_CONFIG_PATH

# ---- 2. the Debian package --------------------------------------------------

CONTEXT="log: $WORK/deb.log"
RC=0
cpack --config "$NATIVE_DIR/CPackConfig.cmake" -G DEB -B "$WORK/deb" >"$WORK/deb.log" 2>&1 || RC=$?
deb=$(ls "$WORK"/deb/*.deb 2>/dev/null | head -n 1 || true)
check "deb: cpack makes the package" is status "$RC" 0 -- nonempty "${deb:-$WORK/deb/none.deb}"
if [ -n "$deb" ]; then
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' >"$WORK/deb-files.txt"
    # The package holds what cmake --install puts under /usr.
    check "deb: the files under /usr are those of the install" \
        same_list "package files" "$WORK/deb-files.txt" "$WORK/installed-want.txt"
    check "deb: name, version, architecture and dependencies" \
        is Package "$(dpkg-deb -f "$deb" Package)" orv5w32 -- \
        is Version "$(dpkg-deb -f "$deb" Version)" "$VERSION" -- \
        is Architecture "$(dpkg-deb -f "$deb" Architecture)" "$(dpkg --print-architecture)" -- \
        has_line <(dpkg-deb -f "$deb" Depends) 'libc6'
    dpkg-deb -x "$deb" "$WORK/debroot"
    check "deb: the station's unit starts /usr/bin/orvw, its example settings are documentation" \
        is program "$(exec_start "$WORK/debroot/usr/$UNIT")" /usr/bin/orvw -- \
        same_file "$WORK/debroot/usr/share/doc/orv5w32/examples/cradle1.conf" "$ROOT/dist/systemd/cradle1.conf"
    dpkg-deb -e "$deb" "$WORK/debctl"
    check "deb: postinst and postrm let a running systemd re-read its units" \
        has_line "$WORK/debctl/postinst" 'systemctl --system daemon-reload' -- \
        has_line "$WORK/debctl/postrm" 'systemctl --system daemon-reload' -- \
        is "postinst mode" "$(stat -c %a "$WORK/debctl/postinst" 2>/dev/null)" 755
    check "deb: orvw from the unpacked package runs and lists the plug-ins" \
        is version "$("$WORK/debroot/usr/bin/orvw" --version 2>&1 || true)" "orvw $VERSION (library Orv5w32 1.01S)" -- \
        is plug-ins "$("$WORK/debroot/usr/bin/orvw" --help 2>&1 | grep -cE '^  Orv5(EESI|AIRM|KKCI|FMIR)  ' || true)" 4
fi

# ---- 3. the Windows zips ----------------------------------------------------

# zip_checks ARCH DIR TRIPLET
zip_checks() {
    local arch=$1 dir=$2 triplet=$3 top=orv5w32-$VERSION-$1 zip
    local objdump=$triplet-objdump nm=$triplet-nm
    if [ ! -f "$dir/bin/Orv5w32.dll" ] || [ ! -f "$dir/CPackConfig.cmake" ]; then
        skip "$arch zip" "no build in $dir"
        return 0
    fi
    CONTEXT="log: $WORK/$arch-zip.log"
    RC=0
    cpack --config "$dir/CPackConfig.cmake" -G ZIP -B "$WORK/$arch" >"$WORK/$arch-zip.log" 2>&1 || RC=$?
    zip=$WORK/$arch/$top.zip
    check "$arch zip: cpack makes $top.zip" is status "$RC" 0 -- nonempty "$zip"
    [ -s "$zip" ] || return 0
    unzip -Z1 "$zip" | grep -v '/$' >"$WORK/$arch-files.txt"
    {
        printf '%s\n' bin/Orv5w32.dll bin/Orv5EESI.dll bin/Orv5AIRM.dll bin/Orv5KKCI.dll \
            bin/Orv5FMIR.dll bin/orvw.exe bin/zdxsim.exe lib/libOrv5w32.dll.a lib/Orv5w32.def \
            include/orv5w32.h include/orv5_adapter.h \
            lib/cmake/Orv5w32/Orv5w32Config.cmake lib/cmake/Orv5w32/Orv5w32ConfigVersion.cmake \
            lib/cmake/Orv5w32/Orv5w32Targets.cmake lib/cmake/Orv5w32/Orv5w32Targets-release.cmake \
            lib/pkgconfig/orv5w32.pc share/doc/orv5w32/README.md share/doc/orv5w32/LICENSE
        if [ "$arch" = win32 ]; then echo lib/Orv5w32_stdcall.def; fi
    } | sed "s|^|$top/|" >"$WORK/$arch-want.txt"
    check "$arch zip: DLL, import library, .def, headers, plug-ins, programs, README, licence" \
        same_list "zip files" "$WORK/$arch-files.txt" "$WORK/$arch-want.txt"

    unzip -q "$zip" -d "$WORK/$arch/unpacked"
    local bin=$WORK/$arch/unpacked/$top/bin lib=$WORK/$arch/unpacked/$top/lib model
    check "$arch zip: Orv5w32.dll exports the four functions by plain name" \
        exports_are "$bin/Orv5w32.dll" "$objdump" AbortOrv5 ExecOrv5 GetOrv5DllVersion GetOrv5LastReason
    check "$arch zip: Orv5w32.def lists the same exports" \
        is exports "$(sed -n 's/^    //p' "$lib/Orv5w32.def" | sort | tr '\n' ' ')" \
            "AbortOrv5 ExecOrv5 GetOrv5DllVersion GetOrv5LastReason "
    for model in EESI AIRM KKCI FMIR; do
        check "$arch zip: Orv5$model.dll exports InitIrDevice and GetDllVersion" \
            exports_are "$bin/Orv5$model.dll" "$objdump" GetDllVersion InitIrDevice
    done
    check "$arch zip: the DLLs and programs need no MinGW runtime DLL" \
        no_runtime_dlls "$bin/Orv5w32.dll" "$objdump" -- no_runtime_dlls "$bin/orvw.exe" "$objdump" -- \
        no_runtime_dlls "$bin/Orv5KKCI.dll" "$objdump"
    if [ "$arch" = win64 ]; then
        check "$arch zip: the import library binds ExecOrv5" \
            has_symbol "$lib/libOrv5w32.dll.a" "$nm" '__imp_ExecOrv5'
    else
        check "$arch zip: the import library binds the WINAPI names (_ExecOrv5@12)" \
            has_symbol "$lib/libOrv5w32.dll.a" "$nm" '__imp__ExecOrv5@12' -- \
            has_symbol "$lib/libOrv5w32.dll.a" "$nm" '__imp__GetOrv5LastReason@8'
    fi
    if [ "$arch" = win64 ]; then wine_checks "$bin"; fi
}

# wine_checks BIN: orvw.exe from the unpacked zip, with the DLL and the
# plug-ins beside it and nothing else.
wine_checks() {
    local bin=$1 loader=/usr/lib/wine/wine64
    if [ ! -x "$loader" ] || [ ! -f "$WINE_PREFIX_DIR/.orv5-stamp" ]; then
        skip "win64 zip under Wine" "no 64-bit Wine loader or no prefix (scripts/test-wine.sh makes it)"
        return 0
    fi
    local out=$WORK/wine-version.txt
    WINEPREFIX=$WINE_PREFIX_DIR WINEDEBUG=-all WINELOADER=$loader \
        timeout 120 "$loader" "$bin/orvw.exe" --version >"$out" 2>&1 </dev/null || true
    check "win64 zip: orvw.exe runs from the unpacked zip under Wine" \
        is version "$(tr -d '\r' <"$out")" "orvw $VERSION (library Orv5w32 1.01S)"
    WINEPREFIX=$WINE_PREFIX_DIR WINEDEBUG=-all WINELOADER=$loader \
        timeout 120 "$loader" "$bin/orvw.exe" --help >"$out" 2>&1 </dev/null || true
    check "win64 zip: orvw.exe --help lists the four plug-ins beside the DLL" \
        is plug-ins "$(tr -d '\r' <"$out" | grep -cE '^  Orv5(EESI|AIRM|KKCI|FMIR)  ' || true)" 4
    wine_station "$bin" "$loader"
}

# wine_station BIN LOADER: orvw.exe --collect on COM9 stores what one
# terminal sends.  Once the station holds that terminal's line, COM9 is
# linked to a second, silent terminal (the first one's line goes when it
# is done), so the station then waits; Ctrl-C (SIGINT, which Wine hands
# to the console handler) ends it with 0 and a logged stop.  A second
# station for COM9, started meanwhile, is refused with 64.  Each stored
# file is handed to a command through cmd, quotes and all (--on-file).
wine_station() {
    local bin=$1 loader=$2 d=$WORK/wine-station com pid i sender silent silent_pty
    com=$WINE_PREFIX_DIR/dosdevices/com9
    if [ ! -x "$ZDXSIM" ]; then
        skip "win64 zip: collecting station under Wine" "no $ZDXSIM"
        return 0
    fi
    sim_launch "$d/terminal" "$d/sim.log" 60 --send-records 3 --widths 5,3 \
        --send-name DATA.TXT --reply-timeout 200 --answer-delay 250 || { fail "win64 zip: collecting station" "no terminal"; return 0; }
    sender=$SIM_PID
    ln -sfn "$PTY" "$com"
    local sender_pty=$PTY
    sim_launch "$d/idle" "$d/idle.log" 60 --send-records 1 --widths 4 --fault-silent || { fail "win64 zip: collecting station" "no terminal"; return 0; }
    silent=$SIM_PID silent_pty=$PTY
    (cd "$d" && WINEPREFIX=$WINE_PREFIX_DIR WINEDEBUG=-all WINELOADER=$loader \
        exec "$loader" "$bin/orvw.exe" --collect st -P9 -V \
        '--on-file="%COMSPEC%" /c echo %ORV5_RECORDS% %ORV5_STATION% %ORV5_RESULT%>"hook.txt"' >"$d/station.log" 2>&1 </dev/null) &
    pid=$!
    for i in $(seq 600); do
        wine_holds "$sender_pty" && break
        sleep 0.05
    done
    local second=0
    (cd "$d" && WINEPREFIX=$WINE_PREFIX_DIR WINEDEBUG=-all WINELOADER=$loader \
        timeout 60 "$loader" "$bin/orvw.exe" --collect st2 -P9 -V >"$d/second.log" 2>&1 </dev/null) || second=$?
    ln -sfn "$silent_pty" "$com"
    for i in $(seq 600); do
        [ -s "$d/st/collect.log" ] && break
        sleep 0.05
    done
    for i in $(seq 100); do
        wine_holds "$silent_pty" && break
        sleep 0.05
    done
    sleep 0.5
    kill -INT "$pid" 2>/dev/null || true
    RC=124
    for i in $(seq 400); do
        kill -0 "$pid" 2>/dev/null || { RC=0; wait "$pid" || RC=$?; break; }
        sleep 0.05
    done
    [ "$RC" = 124 ] && { kill -KILL "$pid" 2>/dev/null || true; }
    for i in $(seq 100); do
        kill -0 "$sender" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sender" "$silent" 2>/dev/null || true
    wait "$sender" "$silent" 2>/dev/null || true
    rm -f "$com"
    CONTEXT="log: $(tr '\n' ' ' <"$d/st/collect.log" 2>/dev/null | head -c 600)"
    local stored
    stored=$(ls "$d/st" 2>/dev/null | grep -E '^[0-9]{8}-[0-9]{6}-DATA\.TXT$' || true)
    # Should the station have reached the first line after it went, a 51
    # with the port's reason stands between the two.
    local first last
    first=$(sed -n '1s/^{"time":"[^"]*","station":"COM9","result":\([0-9]*\),.*/\1/p' "$d/st/collect.log" 2>/dev/null)
    last=$(sed -n '$s/^{"time":"[^"]*","station":"COM9",\(.*\)}/\1/p' "$d/st/collect.log" 2>/dev/null)
    check "win64 zip: orvw.exe --collect stores a file under Wine, Ctrl-C ends it" \
        is status "$RC" 0 -- is "first result" "$first" 0 -- is "last line" "$last" '"stopped":true' -- \
        has_line "$d/st/collect.log" '"result":0,.*"stored":"st\\\\[0-9]{8}-[0-9]{6}-DATA\.TXT"' -- \
        same_file "$d/st/$stored" "$d/terminal/DATA.TXT" -- nonempty "$d/st/${stored%.TXT}.FLD"
    CONTEXT="hook: $(cat "$d/hook.txt" 2>/dev/null); log: $(grep '"hook"' "$d/st/collect.log" 2>/dev/null | head -c 400)"
    check "win64 zip: --on-file runs its command through cmd with the file's facts" \
        is "hook output" "$(tr -d '\r' <"$d/hook.txt" 2>/dev/null)" "3 COM9 0" -- \
        has_line "$d/st/collect.log" '"hook":.*"status":0,'
    CONTEXT="second station: $(tr '\r\n' '  ' <"$d/second.log" 2>/dev/null | head -c 300)"
    check "win64 zip: a second orvw.exe --collect on the same port is refused with 64" \
        is status "$second" 64 -- has_line "$d/second.log" 'another station serves port COM9' -- \
        is "its folder" "$(ls -A "$d/st2" 2>/dev/null | tr '\n' ' ')" ""
}

zip_checks win64 "$WIN64_DIR" x86_64-w64-mingw32
zip_checks win32 "$WIN32_DIR" i686-w64-mingw32
finish
