#!/usr/bin/env bash
# Cross-builds quarlix.exe, quarlix-info.exe and quarlix-export.exe for 64-bit Windows and checks
# them under Wine against the Linux build on the same inputs: the same printed lines (ended by CR LF on Windows), the same exit
# statuses, nothing on standard error, byte-identical output files. Then packs the .zip and
# checks what it holds. Installs the cross compiler, the Windows zlib and Wine when missing
# (tools/setup.sh windows).
#   tools/windows-check.sh [LINUX_BUILD_DIR]   (default build/release, configured when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux_build=${1:-build/release}
started=$SECONDS

fail() {
    echo "windows-check: $*" >&2
    exit 1
}

# --- Tools ----------------------------------------------------------------------------------
tools/setup.sh windows
wine=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } ||
       command -v wine) || fail "no wine64 or wine program"
wineserver=$(command -v wineserver || { [ -x /usr/lib/wine/wineserver ] &&
             echo /usr/lib/wine/wineserver; }) || fail "no wineserver program"

# --- Builds ---------------------------------------------------------------------------------
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$linux_build" --target quarlix quarlix-info quarlix-export make_level
cmake --preset mingw && cmake --build --preset mingw
lin_dir=$root/$linux_build
[[ $linux_build = /* ]] && lin_dir=$linux_build
make_level=$lin_dir/make_level
# The program that the cases run, the same on both sides.
program=quarlix


# A bare Windows machine has its own DLLs only: zlib, the C++ runtime and the thread library
# must be linked in.
for name in quarlix quarlix-info quarlix-export; do
    dlls=$(x86_64-w64-mingw32-objdump -p "build/mingw/$name.exe" |
           sed -n 's/^[[:space:]]*DLL Name: //p')
    for dll in $dlls; do
        case ${dll,,} in
        kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | advapi32.dll | ntdll.dll) ;;
        *) fail "$name.exe needs $dll, which is not part of Windows" ;;
        esac
    done
    echo "windows-check: $name.exe imports only" $dlls
done

# --- Wine -----------------------------------------------------------------------------------
# A private prefix; no Mono or Gecko prompts, no display, no diagnostics on standard error.
# Wine reads Unix names and arguments in the locale's encoding: UTF-8, like the Linux side.
export WINEPREFIX=$root/build/mingw/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "windows-check: initialising the Wine prefix (once)"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot --init >"$root/build/mingw/wineboot.log" 2>&1 ||
        fail "wineboot failed, see build/mingw/wineboot.log"
    "$wineserver" -w
fi

# --- The runs -------------------------------------------------------------------------------
# The same case runs in win/ under Wine and in lin/ natively, each on its own copy of the inputs.
work=$root/build/mingw/wine-check
rm -rf "$work"
mkdir -p "$work/win/maps.trc" "$work/lin/maps.trc" "$work/win/карты" "$work/lin/карты" "$work/logs"
for side in win lin; do
    "$make_level" example "$work/$side/example.trc"
    "$make_level" tr4 3 "$work/$side/plain.tr4"
    "$make_level" v3 3 "$work/$side/old.phd"
    echo "not a level" >"$work/$side/notes.trc"
    head -c 2000 "$work/$side/plain.tr4" >"$work/$side/damaged.tr4"
    for name in Été-à-Noël.trc карты/уровень.trc 关卡.trc same.trc; do
        cp "$work/$side/example.trc" "$work/$side/$name"
    done
    head -c 50000 /dev/zero | tr '\0' 'x' >"$work/$side/existing.tr4"
done

# The Windows form of an absolute path: drive Z: is the root of the Linux file system.
winpath() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

cases=0
# check NAME OUTPUTS: runs win_args under Wine and lin_args natively, and compares. OUTPUTS
# are the output files (relative to each side's directory) that both runs must write alike,
# or both not write.
check() {
    local name=$1 outputs=$2 log=$work/logs/$1 win_status=0 lin_status=0 i expected
    (cd "$work/win" && "$wine" "$root/build/mingw/$program.exe" "${win_args[@]}") \
        >"$log.win.out" 2>"$log.win.err" || win_status=$?
    (cd "$work/lin" && "$lin_dir/$program" "${lin_args[@]}") >"$log.lin.out" 2>"$log.lin.err" ||
        lin_status=$?
    [ ! -s "$log.win.err" ] || fail "$name: standard error under Wine: $(cat "$log.win.err")"
    [ ! -s "$log.lin.err" ] || fail "$name: standard error on Linux: $(cat "$log.lin.err")"
    [ "$win_status" -eq "$lin_status" ] ||
        fail "$name: exit status $win_status under Wine, $lin_status on Linux"
    ! grep -q $'\r' "$log.lin.out" || fail "$name: CR in the Linux output"
    [ "$(grep -c $'\r$' "$log.win.out")" -eq "$(wc -l <"$log.win.out")" ] &&
        [ "$(grep -c $'\r' "$log.win.out")" -eq "$(wc -l <"$log.win.out")" ] ||
        fail "$name: a line under Wine does not end with CR LF"
    # The lines name the files as given, so the Linux names become the Windows ones.
    expected=$(cat "$log.lin.out" && echo .)
    expected=${expected%.}
    for i in "${!lin_args[@]}"; do
        expected=${expected//"${lin_args[i]}"/"${win_args[i]}"}
    done
    printf '%s' "$expected" >"$log.expected"
    sed 's/\r$//' "$log.win.out" >"$log.win.lines"
    cmp -s "$log.expected" "$log.win.lines" ||
        fail "$name: printed lines differ:"$'\n'"$(diff "$log.expected" "$log.win.lines")"
    for out in $outputs; do
        if [ -d "$work/lin/$out" ]; then
            diff -r "$work/win/$out" "$work/lin/$out" >/dev/null || fail "$name: $out differs"
        elif [ -e "$work/lin/$out" ]; then
            cmp "$work/win/$out" "$work/lin/$out" || fail "$name: $out differs"
        else
            [ ! -e "$work/win/$out" ] || fail "$name: $out written under Wine only"
        fi
    done
    cases=$((cases + 1))
    echo "windows-check: $name: exit $win_status, $(wc -l <"$log.win.out") lines, same as Linux"
}

win=$(winpath "$work/win")
lin=$work/lin

win_args=() lin_args=()
check no-arguments ""
win_args=("$win\\example.trc") lin_args=("$lin/example.trc")
check one-argument ""
win_args=("$win\\missing.trc" ".\\out.tr4") lin_args=("$lin/missing.trc" "./out.tr4")
check missing-input "out.tr4"
win_args=(".\\maps.trc" ".\\out.tr4") lin_args=("./maps.trc" "./out.tr4")
check directory-input "out.tr4"
win_args=(".\\notes.trc" ".\\out.tr4") lin_args=("./notes.trc" "./out.tr4")
check unrecognised-file "out.tr4"
win_args=("$win\\old.phd" "$win\\old.trc") lin_args=("$lin/old.phd" "$lin/old.trc")
check older-version "old.trc"
win_args=(".\\plain.tr4" ".\\plain.TRC") lin_args=("./plain.tr4" "./plain.TRC")
check unmarked-tr4 "plain.TRC"
win_args=("$win\\example.trc" "$win\\example.tr4") lin_args=("$lin/example.trc" "$lin/example.tr4")
check trc-to-tr4 "example.tr4"
win_args=(".\\example.tr4" ".\\example-back.TRC") lin_args=("./example.tr4" "./example-back.TRC")
check tr4-to-trc "example-back.TRC"
# The name test reads the whole name: a TR4 file inside maps.trc\ is read as TRC, and fails.
cp "$work/lin/example.tr4" "$work/win/maps.trc/level.tr4"
cp "$work/lin/example.tr4" "$work/lin/maps.trc/level.tr4"
win_args=(".\\maps.trc\\level.tr4" ".\\from-maps.tr4") lin_args=("./maps.trc/level.tr4" "./from-maps.tr4")
check trc-named-directory "from-maps.tr4"
win_args=("$win\\example.trc" "$win\\no-such-dir\\out.tr4")
lin_args=("$lin/example.trc" "$lin/no-such-dir/out.tr4")
check unwritable-output ""
# Names outside any one code page, both directions, relative and absolute, in a directory too.
win_args=(".\\Été-à-Noël.trc" "$win\\Été-à-Noël.tr4") lin_args=("./Été-à-Noël.trc" "$lin/Été-à-Noël.tr4")
check latin-trc-to-tr4 "Été-à-Noël.tr4"
win_args=("$win\\Été-à-Noël.tr4" ".\\Ça-revient.TRC") lin_args=("$lin/Été-à-Noël.tr4" "./Ça-revient.TRC")
check latin-tr4-to-trc "Ça-revient.TRC"
win_args=("$win\\карты\\уровень.trc" ".\\карты\\уровень.tr4")
lin_args=("$lin/карты/уровень.trc" "./карты/уровень.tr4")
check cyrillic-trc-to-tr4 "карты/уровень.tr4"
win_args=(".\\карты\\уровень.tr4" "$win\\карты\\обратно.trc")
lin_args=("./карты/уровень.tr4" "$lin/карты/обратно.trc")
check cyrillic-tr4-to-trc "карты/обратно.trc"
win_args=(".\\关卡.trc" ".\\关卡.tr4") lin_args=("./关卡.trc" "./关卡.tr4")
check cjk-trc-to-tr4 "关卡.tr4"
win_args=("$win\\关卡.tr4" ".\\关卡-戻る.trc") lin_args=("$lin/关卡.tr4" "./关卡-戻る.trc")
check cjk-tr4-to-trc "关卡-戻る.trc"
# Saving over a file: an existing output, and the input itself, are replaced whole.
win_args=(".\\example.trc" ".\\existing.tr4") lin_args=("./example.trc" "./existing.tr4")
check replace-existing-output "existing.tr4"
win_args=(".\\same.trc" "$win\\same.trc") lin_args=("./same.trc" "$lin/same.trc")
check same-file-as-output "same.trc"
win_args=("$win\\关卡.tr4" ".\\关卡.tr4") lin_args=("$lin/关卡.tr4" "./关卡.tr4")
check same-file-cjk-tr4 "关卡.tr4"
# A device is not read or written: NUL on Windows, /dev/null on Linux.
win_args=("NUL" ".\\out.tr4") lin_args=("/dev/null" "./out.tr4")
check device-input "out.tr4"
win_args=(".\\example.trc" "NUL") lin_args=("./example.trc" "/dev/null")
check device-output ""
grep -q '^Done\.$' "$work/logs/tr4-to-trc.lin.out" || fail "the round trip did not finish"
for name in same-file-as-output cjk-tr4-to-trc; do
    grep -q '^Done\.$' "$work/logs/$name.lin.out" || fail "$name did not finish"
done
stray=$(find "$work/win" "$work/lin" -name '.quarlix-*')
[ -z "$stray" ] || fail "temporary files left: $stray"

# quarlix-export: every file it writes is the same under Wine.
program=quarlix-export
win_args=() lin_args=()
check export-no-arguments ""
win_args=("--help") lin_args=("--help")
check export-help ""
win_args=("$win\example.trc" ".\export-example") lin_args=("$lin/example.trc" "./export-example")
check export-example "export-example"
win_args=(".\example.tr4" "$win\export-conversion") lin_args=("./example.tr4" "$lin/export-conversion")
check export-conversion "export-conversion"
win_args=(".\plain.tr4" ".\export-plain\deeper" "--textures" "--model")
lin_args=("./plain.tr4" "./export-plain/deeper" "--textures" "--model")
check export-tr4-parts "export-plain"
win_args=("$win\old.phd" ".\export-old") lin_args=("$lin/old.phd" "./export-old")
check export-older-version "export-old"
win_args=(".\damaged.tr4" ".\export-damaged") lin_args=("./damaged.tr4" "./export-damaged")
check export-damaged "export-damaged"
win_args=(".\example.trc" ".\notes.trc\out") lin_args=("./example.trc" "./notes.trc/out")
check export-unwritable ""
for part in level.glb textures/page32-000.png; do
    [ -s "$work/lin/export-example/$part" ] || fail "the export of the example lacks $part"
done
program=quarlix

# quarlix-info on the example and its conversion. The JSON names the files without a directory,
# as JSON escapes the backslashes of Windows paths.
program=quarlix-info
win_args=("$win\\example.trc") lin_args=("$lin/example.trc")
check info-report ""
win_args=(--check ".\\example.tr4") lin_args=(--check "./example.tr4")
check info-check ""
# Names of one length on both sides, as the left column is as wide as its widest value.
win_args=(".\\example.trc" ".\\example.tr4") lin_args=("./example.trc" "./example.tr4")
check info-difference ""
win_args=(--json --check example.trc example.tr4) lin_args=(--json --check example.trc example.tr4)
check info-json ""
win_args=(".\\old.phd" ".\\missing.trc") lin_args=("./old.phd" "./missing.trc")
check info-missing ""
win_args=(--help) lin_args=(--help)
check info-help ""
win_args=(--frobnicate) lin_args=(--frobnicate)
check info-usage ""
# Names outside the system code page reach both programs whole.
win_args=(--check ".\\关卡.trc" ".\\карты\\уровень.trc") lin_args=(--check "./关卡.trc" "./карты/уровень.trc")
check info-unicode-names ""
program=quarlix-export
win_args=(".\\Été-à-Noël.trc" ".\\экспорт-关卡") lin_args=("./Été-à-Noël.trc" "./экспорт-关卡")
check export-unicode-names "экспорт-关卡"
[ -s "$work/lin/экспорт-关卡/level.glb" ] || fail "the export under a Cyrillic and CJK name wrote no model"
program=quarlix

# --- The .zip -------------------------------------------------------------------------------
rm -f build/mingw/quarlix-*-win64.zip
cpack --preset mingw >"$work/logs/cpack.log" || fail "cpack failed: $(cat "$work/logs/cpack.log")"
zips=(build/mingw/quarlix-*-win64.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "cpack made no single .zip"
python3 - "${zips[0]}" "$work/zip" <<'EOF'
import pathlib, sys, zipfile
archive, into = sys.argv[1], sys.argv[2]
top = pathlib.Path(archive).stem
with zipfile.ZipFile(archive) as z:
    names = sorted(i.filename for i in z.infolist() if not i.is_dir())
    want = [f"{top}/{n}" for n in ("README.md", "quarlix-export.1", "quarlix-export.exe",
                                   "quarlix-info.1", "quarlix-info.exe",
                                   "quarlix.1", "quarlix.exe")]
    if names != want:
        sys.exit(f"windows-check: {archive} holds {names}, not {want}")
    z.extractall(into)
EOF
# The packed (stripped) program still runs.
(cd "$work/win" && "$wine" "$work/zip/$(basename "${zips[0]}" .zip)/quarlix.exe") \
    >"$work/logs/zip.out" 2>&1 || fail "the packed quarlix.exe failed"
cmp -s "$work/logs/zip.out" "$work/logs/no-arguments.win.out" ||
    fail "the packed quarlix.exe prints other lines"
(cd "$work/win" && "$wine" "$work/zip/$(basename "${zips[0]}" .zip)/quarlix-export.exe" --version) \
    >"$work/logs/zip-export.out" 2>&1 || fail "the packed quarlix-export.exe failed"
[ "$(tr -d '\r' <"$work/logs/zip-export.out")" = "quarlix-export 1.0" ] ||
    fail "the packed quarlix-export.exe prints $(cat "$work/logs/zip-export.out")"
(cd "$work/win" && "$wine" "$work/zip/$(basename "${zips[0]}" .zip)/quarlix-info.exe" --help) \
    >"$work/logs/zip-info.out" 2>&1 || fail "the packed quarlix-info.exe failed"
cmp -s "$work/logs/zip-info.out" "$work/logs/info-help.win.out" ||
    fail "the packed quarlix-info.exe prints other lines"
echo "windows-check: ${zips[0]} holds the three programs, README.md and their man pages; they run"

"$wineserver" -w
echo "windows-check: $cases cases as on Linux; $((SECONDS - started)) s"
