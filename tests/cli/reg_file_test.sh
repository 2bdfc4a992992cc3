#!/usr/bin/env bash
# `syskit reg import` and `reg export --format windows` with .reg files as the Windows registry
# editor writes them. On Linux: the format chosen by header and by --format, the values' types
# shown, and errors that name the line and apply nothing. Under Wine (case beside_regedit): each
# data file is imported by Wine's own `regedit /S` and by syskit into a prefix made fresh for the
# check; the registry after both, as `regedit /E` exports it, must be the same, and syskit's
# export must be byte for byte regedit's.
#
# Usage: reg_file_test.sh SYSKIT DATA_DIR [EMULATOR...] CASE
set -euo pipefail

exe=$1 data=$2
emulator=("${@:3:$#-3}")
case_name=${!#}

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
export LC_ALL=C.UTF-8 SYSKIT_REGISTRY=$work/registry

syskit() { "${emulator[@]}" "$exe" "$@"; }
key='HKEY_CURRENT_USER\Software\syskit-reg-file-fixture'

case_formats() {
    # A REGEDIT5 header selects the editor's format; the export gives back Wine's file.
    expect 0 '' syskit reg import "$data/wine_export.reg"
    expect 0 '' syskit reg export --format windows "$key" back.reg
    cmp "$data/wine_export.reg" back.reg || fail "the export differs from the file imported"
    expect 1 "cannot export to 'back.reg': the file exists" \
        syskit reg export --format windows "$key" back.reg
    expect 2 'no export of a key alone' syskit reg export --format windows --no-subkeys "$key" x.reg
    check_files back.reg registry stderr stdout

    # The same REGEDIT4 file: escapes in the editor's format, plain characters in the system's own.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\R4]\r\n"p"="C:\\\\x"\r\n' >escaped.reg
    expect 0 '' syskit reg import --format windows escaped.reg
    prints 'C:\x' syskit reg get 'HKCU\R4' p
    expect 0 '' syskit reg import escaped.reg
    prints 'C:\\x' syskit reg get 'HKCU\R4' p

    # Types in `values`, plain and JSON.
    prints $'number\tREG_DWORD\t43981' syskit reg values "$key" --type 4
    expect 0 '' syskit reg values "$key" --type 7
    printf 'multi\tREG_MULTI_SZ\tone\0\0twé\n' | cmp -s - stdout || fail "multi: $(cat -A stdout)"
    printf 'REGEDIT4\n[HKEY_CURRENT_USER\\Odd]\n"d"=hex(4):01,02,03\n"q"=hex(b):01\n' >odd.reg
    expect 0 '' syskit reg import --format windows odd.reg
    prints $'d\tREG_DWORD\t01 02 03\nq\tREG_QWORD\t01' syskit reg values 'HKCU\Odd'
    expect 1 "^syskit reg: cannot export key 'HKCU.Missing'" \
        syskit reg export --format windows 'HKCU\Missing' missing.reg
    [[ ! -e missing.reg ]] || fail "a failed export left a file"
    syskit reg values "$key" --json >values.json
    python3 - values.json <<'PY' || fail "values --json: $(cat values.json)"
import json, sys
v = {e["name"]: (e["type"], e["value"]) for e in json.load(open(sys.argv[1]))}
assert v["multi"] == ("REG_MULTI_SZ", ["one", "", "twé"]), v["multi"]
assert v["own type"] == ("32768", "DE AD BE EF"), v["own type"]
assert v["number"] == ("REG_DWORD", 43981) and v["expand"][0] == "REG_EXPAND_SZ"
PY
}

case_errors() {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\E]\n"a"="1"\n"b"=dword:123456789\n' >bad.reg
    expect 1 "cannot import 'bad.reg': line 5: .*nothing of the file was applied" \
        syskit reg import bad.reg
    answers false syskit reg exists 'HKCU\E'
    printf 'REGEDIT4\n[HKEY_CURRENT_USER\\E]\n"t"="\\t"\n' >escape.reg
    expect 1 "line 3: unknown escape" syskit reg import --format windows escape.reg
    printf 'not a reg file\n' >other.reg
    expect 1 "'other.reg' is not a .reg file" syskit reg import --format windows other.reg
    expect 2 'format' syskit reg import --format regedit5 other.reg
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }

case_beside_regedit() {
    if [[ -n ${SYSKIT_WINEPREFIX:-} ]]; then
        WINEPREFIX=$SYSKIT_WINEPREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
        rm -rf "$SYSKIT_WINEPREFIX"
    fi
    cp "$data/wine_export.reg" "$data/hand_written_regedit4.reg" .
    { printf '\xff\xfe'; sed 's/$/\r/' "$data/hand_written_regedit5.txt" | iconv -f UTF-8 -t UTF-16LE; } \
        >hand_written_regedit5.reg
    for file in wine_export.reg hand_written_regedit5.reg hand_written_regedit4.reg; do
        "${emulator[@]}" reg delete "$key" /f >/dev/null 2>&1 || true
        "${emulator[@]}" regedit /S "$(winpath "$work/$file")" || fail "$file: regedit /S failed"
        "${emulator[@]}" regedit /E "$(winpath "$work/regedit-$file")" "$key"
        "${emulator[@]}" reg delete "$key" /f >/dev/null 2>&1 || true
        expect 0 '' syskit reg import --format windows "$file"
        "${emulator[@]}" regedit /E "$(winpath "$work/after-syskit-$file")" "$key"
        cmp "regedit-$file" "after-syskit-$file" || {
            diff <(iconv -f UTF-16LE -t UTF-8 "regedit-$file") \
                 <(iconv -f UTF-16LE -t UTF-8 "after-syskit-$file") || true
            fail "$file: the registry differs from regedit's import"
        }
        expect 0 '' syskit reg export --format windows "$key" "syskit-$file"
        cmp "regedit-$file" "syskit-$file" || fail "$file: the export differs from regedit's"
    done
}

"case_$case_name"
