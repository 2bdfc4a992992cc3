#!/usr/bin/env bash
# The Windows build of `syskit` run under Wine as a user runs it: text and binary data pass
# through files and pipes byte for byte (the printable form's CR LF is not doubled, no byte of a
# binary file changes), arguments and file names are UTF-8, exit statuses are as documented,
# `cpu --json` describes the processor, and the `reg` commands work on Wine's registry.
#
# Usage: windows_test.sh SYSKIT_EXE EMULATOR... CASE
# EMULATOR... is the command that starts a Windows program here (the build's cross-compiling
# emulator). Each CASE is one CTest test (see CMakeLists.txt). Every start of Wine costs about
# half a second, so each command is made to count.
set -euo pipefail

exe=$1
emulator=("${@:2:$#-2}")
case_name=${!#}

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# Wine reads the command line and file names in the locale's character set.
export LC_ALL=C.UTF-8

syskit() {
    "${emulator[@]}" "$exe" "$@"
}

case_codec() {
    # Several lines of printable text from a text with CR LF and LF of its own.
    printf 'Grüße, café, 20 € — “quoted”\r\nline %s\n' {1..20} >'plain é.txt'
    printf 'kéy one\r\n' >key1

    # Files named in UTF-8; the key read from a file is the same key given as an argument.
    expect 0 '' syskit encode --key1-file key1 --key2 'two ½' -i 'plain é.txt' -o 'encoded é'
    check_printable 'encoded é'
    expect 0 '' syskit decode --key1 'kéy one' --key2 'two ½' -i 'encoded é' -o decoded
    cmp 'plain é.txt' decoded || fail "the file round trip changed the text"

    # Standard input and output.
    syskit encode --key1 k <'plain é.txt' >encoded
    check_printable encoded
    syskit decode --key1 k <encoded >decoded
    cmp 'plain é.txt' decoded || fail "the stream round trip changed the text"

    # Every byte value, CR, LF and Ctrl+Z among them.
    python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 2)' >bytes
    syskit encode --binary --key1 k <bytes >encoded
    syskit decode --binary --key1 k -i encoded >decoded
    cmp bytes decoded || fail "the --binary round trip changed bytes"

    # A rejected text leaves the file it was to replace as it was, and no temporary file.
    expect 3 'text rejected' syskit decode --key1 wrong -i encoded -o decoded
    cmp bytes decoded || fail "a rejected text changed the output file"
    expect 2 'key1 is missing' syskit encode -i bytes
    check_files bytes decoded encoded 'encoded é' key1 'plain é.txt' stderr stdout
}

case_cpu() {
    expect 0 '' syskit cpu --json
    python3 - stdout /proc/cpuinfo <<'EOF' || fail "cpu --json printed $(head -c 200 stdout)"
import json, re, sys
d = json.load(open(sys.argv[1]))
vendor = re.search(r"^vendor_id\s*:\s*(\S+)", open(sys.argv[2]).read(), re.M).group(1)
assert d["VendorIdStr"]["std"] == vendor, (d["VendorIdStr"], vendor)
assert d["Supported"] is True and d["LevelsStd"] > 0, d
EOF
}

case_reg() {
    cleaned=0  # globals: the exit trap reads them
    name=syskit-cli-test-$$-$RANDOM$RANDOM
    key="HKCU\\Software\\$name"
    at_exit() {
        [[ $cleaned == 1 ]] && return
        syskit reg delete "$key\\Sub é" >/dev/null 2>&1 || true
        syskit reg delete "$key" >/dev/null 2>&1 || true
    }

    expect 0 '' syskit reg set "$key\\Sub é" Text --string 'Grüße €'
    expect 0 '' syskit reg set "$key" Count --dword 0xFFFFFFFF
    expect 0 '' syskit reg set "$key" Data --binary '01 02 ff'
    prints 'Grüße €' syskit reg get "$key\\Sub é" Text
    prints "$(printf 'Count\t-1\nData\t01 02 FF')" syskit reg values "$key"
    prints 'Sub é' syskit reg keys "$key"

    # A path starting with '/' is a file name, not an option.
    expect 0 '' syskit reg export "$key" "$work/exported.reg"
    # Code-page text with CR LF; a key's values go texts first, then binary data, then numbers.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\%s]\r\n"Data"=hex:01,02,FF\r\n' \
        "$name" >expected.reg
    printf '"Count"=dword:FFFFFFFF\r\n\r\n[HKEY_CURRENT_USER\\Software\\%s\\Sub \xe9]\r\n' \
        "$name" >>expected.reg
    printf '"Text"="Gr\xfc\xdfe \x80"\r\n\r\n' >>expected.reg
    cmp expected.reg exported.reg || fail "export wrote $(cat -A exported.reg)"

    expect 0 '' syskit reg delete "$key\\Sub é"
    expect 0 '' syskit reg delete "$key"
    answers false syskit reg exists "$key"
    expect 0 '' syskit reg import exported.reg
    prints 'Grüße €' syskit reg get "$key\\Sub é" Text
    prints -1 syskit reg get "$key" Count --type dword

    # There is no store to select on Windows.
    expect 2 '--registry is not available on Windows' syskit reg --registry "$work" keys HKCU

    expect 0 '' syskit reg delete "$key\\Sub é"
    expect 0 '' syskit reg delete "$key"
    answers false syskit reg exists "$key"
    cleaned=1
}

"case_$case_name"
