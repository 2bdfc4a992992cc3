#!/usr/bin/env bash
# The Windows build of `syskit` run under Wine as a user runs it: text and binary data pass
# through files and pipes byte for byte (the printable form's CR LF is not doubled, no byte of a
# binary file changes), arguments and file names are UTF-8, `cpu --json` describes this
# processor, the `reg` commands work on Wine's registry, and a system whose ANSI code page is 1251
# is served in its own page. What does not depend on the platform is checked on Linux.
#
# Usage: windows_test.sh SYSKIT_EXE EMULATOR... CASE, EMULATOR... starting a Windows program (the
# build's cross-compiling emulator); each CASE is one CTest test. Every start of Wine costs about
# half a second, so each command is made to count.
set -euo pipefail

exe=$1
emulator=("${@:2:$#-2}")
case_name=${!#}

data="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/data"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# Wine reads the command line and file names in the locale's character set.
export LC_ALL=C.UTF-8

wine() { "${emulator[@]}" "$@"; }
syskit() { wine "$exe" "$@"; }

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
    check_files bytes decoded encoded 'encoded é' key1 'plain é.txt' stderr stdout
}

case_cpu() {
    expect 0 '' syskit cpu --json
    local vendor
    vendor=$(sed -n 's/^vendor_id\s*:\s*//p' /proc/cpuinfo | head -n 1)
    python3 -c 'import json, sys; d = json.load(open("stdout"))
assert d["VendorIdStr"]["std"] == sys.argv[1] and d["Supported"] is True and d["LevelsStd"] > 0' \
        "$vendor" || fail "cpu --json printed $(head -c 200 stdout)"
}

case_reg() {
    name=syskit-cli-test-$$-$RANDOM$RANDOM  # globals: the exit trap reads them
    key="HKCU\\Software\\$name"
    at_exit() {
        syskit reg delete "$key\\Sub é" >/dev/null 2>&1 || true
        syskit reg delete "$key" >/dev/null 2>&1 || true
    }

    expect 0 '' syskit reg set "$key\\Sub é" Text --string 'Grüße €'
    expect 0 '' syskit reg set "$key" Count --dword 0xFFFFFFFF
    expect 0 '' syskit reg set "$key" Data --binary '01 02 ff'
    prints 'Grüße €' syskit reg get "$key\\Sub é" Text

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
}

# Wine started in a Russian locale, with a prefix of its own (CMakeLists.txt): the system's ANSI
# code page is 1251. The locale's setup is the project's (install-deps.sh).
case_code_page() {
    locale -a | grep -qix 'ru_RU.utf8' || exit 77
    export LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8
    key="HKCU\\Software\\syskit-1251-$$"
    at_exit() { wine reg delete "$key" /f >/dev/null 2>&1 || true; }

    # A value another program wrote, Cyrillic name and text, reads back.
    wine reg add "$key" /v 'имя' /d 'значение' /f >/dev/null
    prints 'значение' syskit reg get "$key" 'имя'
    # What syskit writes another program reads: its UTF-16 export of the key holds it.
    expect 0 '' syskit reg set "$key\\Ключ" 'имя' --string 'текст й'
    wine reg export "$key\\Ключ" "Z:${work//\//\\}\\wine.reg" /y >/dev/null
    iconv -f UTF-16 -t UTF-8 wine.reg | grep -q '"имя"="текст й"' || fail "Wine's export: $(cat wine.reg)"
    # syskit's own export is 1251 text.
    expect 0 '' syskit reg export "$key\\Ключ" own.reg
    iconv -f CP1251 -t UTF-8 own.reg | grep -q '^"имя"="текст й"' || fail "the export: $(od -c own.reg)"
    # A character 1251 cannot hold is refused before it reaches the registry.
    expect 2 "'é' \\(U\\+00E9\\).*code page 1251" syskit reg set "$key" v --string 'café'
    expect 2 "code page 1252: the Windows registry takes names and texts in the system's code page, 1251" \
        syskit reg --code-page 1252 get "$key" 'имя'
    # A text encoded under 1251 elsewhere decodes with the system's page.
    expect 0 '' syskit decode --key1 ключ --key2 второй -i "$data/cyrillic-1251.enc"
    [[ $(cat stdout) == 'привет, мир' ]] || fail "decoded '$(cat stdout)'"
}

"case_$case_name"
