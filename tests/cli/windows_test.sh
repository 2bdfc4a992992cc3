#!/usr/bin/env bash
# windows_test.sh SYSKIT_EXE EMULATOR... CASE: the Windows `syskit` under Wine (EMULATOR, about
# half a second a start, so each command counts) as a user runs it: data pass files and pipes byte
# for byte, arguments and file names are UTF-8, `cpu --json` describes this processor, `reg` works
# on Wine's registry, code page 1251 is served in its own page. The rest is checked on Linux.
set -euo pipefail

exe=$1 case_name=${!#}
emulator=("${@:2:$#-2}")

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

# Ctrl+C (Wine turns SIGINT into the console's Ctrl+C event) ends a command with
# STATUS_CONTROL_C_EXIT, whose low byte the Unix parent sees: while it waits for more input, and
# while it encodes, which also removes the temporary file it writes to.
case_interrupted() {
    head -c $((64 << 20)) /dev/urandom >large
    mkfifo input
    local key=interrupted-$$ job waited=0
    interrupt() {  # STAGE: Ctrl+C to the running command
        local status=0
        pgrep -f "^[^ ]*syskit\.exe encode .*--key1 $key" >windows_process ||
            fail "$1: no Windows process"
        kill -INT "$(<windows_process)"
        wait "$job" || status=$?
        ((status == 0x3A)) || fail "Ctrl+C ($1): exited with $status"
        rm windows_process
        check_files input large
    }

    syskit encode --key1 "$key" -o output <input &
    job=$!
    exec 3>input
    head -c $((1 << 20)) /dev/zero >&3  # returns once the command has read most of it
    interrupt input
    exec 3>&-

    syskit encode --binary --key1 "$key" -i large -o output &
    job=$!
    until compgen -G '.output.*.tmp' >/dev/null; do
        kill -0 "$job" 2>/dev/null || exit 77  # finished before it could be interrupted
        sleep 0.01 && ((++waited < 6000)) || fail "no temporary file appeared"
    done
    interrupt work
}

case_cpu() {
    expect 0 '' syskit cpu --json
    python3 -c 'import json, sys; d = json.load(open("stdout"))
assert d["VendorIdStr"]["std"] == sys.argv[1] and d["Supported"] is True and d["LevelsStd"] > 0' \
        "$(sed -n 's/^vendor_id\s*:\s*//p' /proc/cpuinfo | head -n 1)" ||
        fail "cpu --json printed $(head -c 200 stdout)"
}

case_reg() {
    name=syskit-cli-test-$$-$RANDOM$RANDOM  # globals: the exit trap reads them
    key="HKCU\\Software\\$name"
    at_exit() { for k in "$key\\Sub é" "$key"; do syskit reg delete "$k" &>/dev/null || true; done; }

    expect 0 '' syskit reg set "$key\\Sub é" Text --string 'Grüße €'
    expect 0 '' syskit reg set "$key" Count --dword 0xFFFFFFFF
    expect 0 '' syskit reg set "$key" Data --binary '01 02 ff'
    prints 'Grüße €' syskit reg get "$key\\Sub é" Text

    # A path starting with '/' is a file name, not an option.
    expect 0 '' syskit reg export "$key" "$work/exported.reg"
    # Code-page text with CR LF; a key's values go texts first, then binary data, then numbers.
    local long="HKEY_CURRENT_USER\\Software\\$name"
    printf '%s\r\n' REGEDIT4 '' "[$long]" '"Data"=hex:01,02,FF' '"Count"=dword:FFFFFFFF' '' \
        "[$long\\Sub "$'\xe9]' $'"Text"="Gr\xfc\xdfe \x80"' '' >expected.reg
    cmp expected.reg exported.reg || fail "export wrote $(cat -A exported.reg)"

    for k in "$key\\Sub é" "$key"; do expect 0 '' syskit reg delete "$k"; done
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
