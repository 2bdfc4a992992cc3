#!/usr/bin/env bash
# `syskit reg` as a user runs it, in a registry directory of its own: arguments, output, exit
# statuses and messages. Usage: reg_command_test.sh SYSKIT CASE (77: cannot run here).
set -euo pipefail

syskit=$1
case_name=$2

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
export SYSKIT_REGISTRY=$work/default_store  # where a command without --registry goes

reg() {
    "$syskit" reg --registry "$work/store" "$@"
}

json_is() {
    python3 -c 'import json, sys
got, want = json.load(open("stdout")), json.loads(sys.argv[1])
assert got == want and type(got) == type(want), (got, want)' "$1" || fail "JSON: $(cat stdout)"
}

key='HKCU\Software\T'

case_keys_and_values() {
    expect 0 '' reg set "$key" text --string 'hello world'
    expect 0 '' reg set "$key" number --dword 42
    expect 0 '' reg set "$key" bytes --binary '01 02 FF'
    expect 0 '' reg set "$key" @ --string 'the default'
    answers true reg exists 'hkey_current_user\SOFTWARE\t'
    answers false reg exists "$key\\Missing"
    prints 'hello world' reg get "$key" text
    prints 42 reg get "$key" number --type dword
    prints '01 02 FF' reg get "$key" bytes --type binary
    prints "$(printf 'text\tREG_SZ\thello world\nnumber\tREG_DWORD\t42\nbytes\tREG_BINARY\t01 02 FF
\tREG_SZ\tthe default')" reg values "$key"
    prints "$(printf 'number\tREG_DWORD\t42')" reg values "$key" --type 4
    expect 0 '' reg values "$key" --json
    json_is '[{"name": "text", "type": "REG_SZ", "value": "hello world"},
              {"name": "number", "type": "REG_DWORD", "value": 42},
              {"name": "bytes", "type": "REG_BINARY", "value": "01 02 FF"},
              {"name": "", "type": "REG_SZ", "value": "the default"}]'

    expect 0 '' reg create "$key\\Sub B"
    expect 0 '' reg create "$key\\a"
    prints "$(printf 'a\nSub B')" reg keys "$key"
    expect 0 '' reg keys "$key" --json
    json_is '["a", "Sub B"]'
    answers true reg has-subkeys "$key"
    expect 0 '' reg unset "$key" number
    answers false reg value-exists "$key" number
    expect 1 "^syskit reg: key 'HKCU.Software.T' was not deleted: it has subkeys$" reg delete "$key"
    expect 0 '' reg delete "$key\\a"
    expect 0 '' "$syskit" reg create 'HKCU\Elsewhere'
    [[ -f default_store/HKEY_CURRENT_USER.db ]] || fail "SYSKIT_REGISTRY was not used"
    answers false reg exists 'HKCU\Elsewhere'
}

case_set_types() {
    local row number printed
    for row in 10:10 -5:-5 0x1F:31 0XfF:255 0xFFFFFFFF:-1 4294967295:-1 2147483648:-2147483648 \
        -2147483648:-2147483648 0:0; do
        IFS=: read -r number printed <<<"$row"
        expect 0 '' reg set "$key" n --dword "$number"
        prints "$printed" reg get "$key" n --type dword
    done
    for number in 4294967296 -2147483649 0x100000000 abc 0x -0x1 1.5 ' 1' +1 ''; do
        expect 2 "^syskit reg: --dword '.*': not a 32-bit number" reg set "$key" n --dword "$number"
    done
    expect 2 "^syskit reg: --binary 'GG': not hexadecimal" reg set "$key" b --binary GG
    expect 2 "^syskit reg: --dword '1\\\\u0085': not" reg set "$key" n --dword $'1\u0085'
    expect 2 "^syskit reg: --binary: more than 32766" reg set "$key" b --binary "$(printf '0%.0s' {1..32767})"

    expect 1 "^syskit reg: cannot write value 'v' of key 'HKCU.Software.Missing': the key does not exist" \
        reg set 'HKCU\Software\Missing' v --string x --no-create
    answers false reg exists 'HKCU\Software\Missing'
}

case_get_defaults() {
    expect 0 '' reg create "$key"
    expect 1 "^syskit reg: cannot read value 'v' of key 'HKCU.Software.T': no such value$" \
        reg get "$key" v
    prints fallback reg get "$key" v --default fallback
    prints 16 reg get "$key" v --type dword --default 0x10
    expect 2 "^syskit reg: --default 'x'" reg get "$key" v --type dword --default x
    # Data the reader cannot return fails without --default and gives the default with it.
    expect 0 '' reg set "$key" long --string "$(printf 'x%.0s' {1..300})"
    expect 1 "^syskit reg: value 'long' of key .* cannot be read as text: it is longer than 254" \
        reg get "$key" long
    prints short reg get "$key" long --default short
    # Bytes read as text keep their NUL in plain output; JSON escapes it.
    expect 0 '' reg set "$key" nul --binary '41 00 42 00'
    expect 0 '' reg get "$key" nul
    printf 'A\0B\n' | cmp -s - stdout || fail "NUL in plain output: $(od -c stdout)"
    expect 0 '' reg get "$key" nul --json
    json_is '"A\u0000B"'
}

case_export_import() {
    expect 0 '' reg set "$key" a --string b
    expect 0 '' reg set "$key" d --dword 26
    expect 0 '' reg set "$key\\Sub" @ --string x
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n"a"="b"\r\n"d"=dword:0000001A\r\n\r\n' >want.reg
    printf '[HKEY_CURRENT_USER\\Software\\T\\Sub]\r\n@="x"\r\n\r\n' >>want.reg
    expect 0 '' reg export "$key" out.reg
    cmp out.reg want.reg || fail "export: $(cat -A out.reg)"
    expect 1 "^syskit reg: cannot export to 'out.reg': the file exists$" reg export "$key" out.reg
    cmp out.reg want.reg || fail "an existing file was changed"
    expect 0 '' reg export "$key" alone.reg --no-subkeys
    head -c 75 want.reg | cmp - alone.reg || fail "--no-subkeys: $(cat -A alone.reg)"
    # On a terminal the key being written is shown and erased at the end; nowhere else.
    if script -qec true /dev/null >/dev/null 2>&1; then
        script -qec "'$syskit' reg --registry '$work/store' export '$key' tty.reg" /dev/null >terminal
        grep -aqF $'\rHKEY_CURRENT_USER\\Software\\T' terminal || fail "no progress: $(cat -A terminal)"
        [[ $(tail -c 1 terminal) == $'\r' ]] || fail "the progress was not erased: $(cat -A terminal)"
        cmp want.reg tty.reg || fail "export on a terminal: $(cat -A tty.reg)"
    fi

    # Files that are not REGEDIT4, and a file the import stops in.
    printf 'REGEDIT4\n\n[HKCU\\Software\\T]\n"z"="1"\n' >lf.reg
    expect 1 "^syskit reg: 'lf.reg' is not a REGEDIT4 file: .*CR LF, not LF$" reg import lf.reg
    printf 'REGEDIT4\r\n[HKCU\\Software\\T]\r\n"y"="1"\r\n "[" \r\n"w"="2"\r\n' >stops.reg
    expect 1 "^syskit reg: cannot import 'stops.reg': line 4 is a key line without a key" \
        reg import stops.reg
    answers true reg value-exists "$key" y
    expect 1 "^syskit reg: cannot write 'no_dir/x.reg': No such file or directory$" \
        reg export "$key" no_dir/x.reg

}

case_utf8() {
    expect 0 '' reg set "$key\\Café" 'prix é' --string 'cinq €'
    prints 'cinq €' reg get "$key\\café" 'PRIX É'
    prints "$(printf 'prix é\tREG_SZ\tcinq €')" reg values "$key\\Café"
    expect 0 '' reg export "$key" utf8.reg
    # The file holds code-page bytes: é is E9, € is 80.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n\r\n[HKEY_CURRENT_USER\\Software\\T\\Caf\xe9]\r\n"prix \xe9"="cinq \x80"\r\n\r\n' |
        cmp - utf8.reg || fail "export: $(od -c utf8.reg)"
    expect 0 '' "$syskit" reg --registry "$work/second" import utf8.reg
    prints 'cinq €' "$syskit" reg --registry "$work/second" get "$key\\Café" 'prix é'

    # Under code page 1251: Cyrillic names (compared without regard to case) and texts, in the
    # registry and in 1251 files; under 1252 they are refused, and read as '?'.
    expect 0 '' reg --code-page 1251 set "$key\\Ключ" 'имя' --string 'значение'
    SYSKIT_CODE_PAGE=1251 prints 'значение' reg get "$key\\КЛЮЧ" 'ИМЯ'
    expect 0 '' reg export "$key\\Ключ" ru.reg --code-page 1251
    iconv -f CP1251 -t UTF-8 ru.reg | grep -q '^"имя"="значение"' || fail "1251 export: $(od -c ru.reg)"
    expect 0 '' "$syskit" reg --registry "$work/second" --code-page 1251 import ru.reg
    SYSKIT_CODE_PAGE=1251 prints 'значение' "$syskit" reg --registry "$work/second" get "$key\\ключ" 'имя'
    expect 2 "^syskit reg: the path holds 'К' \\(U\\+041A\\) at character 17, which code page 1252" \
        reg set "$key\\Ключ" x --string y
    expect 2 "^syskit reg: the text holds 'з' \\(U\\+0437\\)" reg set "$key" x --string 'значение'
    prints "$(printf 'Café\n????')" reg keys "$key"
}

case_errors() {
    mkdir store
    printf 'this is no database, only text that fills the first page of one ...%0100d' 0 \
        >store/HKEY_CURRENT_USER.db
    local pattern="registry database '$work/store/HKEY_CURRENT_USER.db': .*not a database"
    expect 1 "^syskit reg: cannot create key 'HKCU.x': $pattern" reg create 'HKCU\x'
    expect 3 "$pattern" reg exists 'HKCU\x'
    expect 1 "^syskit reg: cannot list the subkeys of key 'HKCU': $pattern" reg keys HKCU
    expect 1 "^syskit reg: cannot export key 'HKCU.x' to 'x.reg': .*$pattern" reg export 'HKCU\x' x.reg
    [[ ! -e x.reg ]] || fail "a failed export left its file"
    printf 'REGEDIT4\r\n\r\n[HKCU\\x]\r\n"v"="1"\r\n' >x.reg
    expect 1 "^syskit reg: 'x.reg' was not applied whole: line 4: .*$pattern" reg import x.reg
    touch not_a_directory
    expect 1 "^syskit reg: cannot create key 'HKCU.x': .*not_a_directory.*: Not a directory$" \
        "$syskit" reg --registry "$work/not_a_directory/sub" create 'HKCU\x'

    expect 1 "^syskit reg: cannot open key '.x': the path names no root key$" reg keys '\x'
    expect 3 "^syskit reg: cannot open key 'HKXX.a': unknown root key 'HKXX'$" reg exists 'HKXX\a'
    # A long name is shown by its start and its length, so the message stays one short line.
    expect 1 "^syskit reg: cannot create key 'HKLM.n{40,}…' \(20005 characters\): .*255" \
        reg create "HKLM\\$(printf 'n%.0s' {1..20000})"
    (($(wc -c <stderr) < 400)) || fail "a long name was echoed whole"
    expect 1 "^syskit reg: cannot open key 'HKLM.missing': no such key" reg values 'HKLM\missing'
}

case_usage() {
    local r="reg --registry $work/store"
    local rows=(
        "2|^syskit reg: .*required|$r"
        "2|^syskit reg: .*frobnicate|$r frobnicate"
        "2|^syskit reg: .*PATH.*required|$r create"
        "2|^syskit reg: .*NAME.*required|$r get HKCU"
        "2|^syskit reg: give the value with exactly one of.*'syskit reg set --help'|$r set HKCU n"
        "2|^syskit reg: .*excludes|$r set HKCU n --string a --dword 1"
        "2|^syskit reg: .*--type.*\(see 'syskit reg values --help'\)$|$r values HKCU --type 99"
        "2|^syskit reg: .*--frobnicate.*\(see 'syskit reg keys --help'\)$|$r keys HKCU --frobnicate"
    )
    expect_rows rows
    expect 2 "^syskit reg: --registry needs a directory" "$syskit" reg --registry '' exists HKCU
    [[ ! -e store && ! -e default_store ]] || fail "a refused command created a store"
    expect 0 '' "$syskit" reg set --help
    grep -q 'Exit status: 0' stdout || fail "reg set --help has no exit statuses"
}

# A store this user may not read or write: the registry's answers become failures that name the
# file, never an empty registry or a change that did not happen.
case_permissions() {
    need_unprivileged_user
    expect 0 '' reg set "$key\\Sub" v --string x
    local db="$work/store/HKEY_CURRENT_USER.db"
    chmod 755 store
    chmod 000 "$db"
    local unreadable="registry database '$db': Permission denied"
    expect 1 "^syskit reg: cannot list the subkeys of key 'HKCU': cannot read $unreadable" \
        unprivileged "$syskit" reg --registry "$work/store" keys HKCU
    expect 3 "cannot read $unreadable" unprivileged "$syskit" reg --registry "$work/store" \
        has-subkeys HKCU
    mkdir -m 777 out
    expect 1 "^syskit reg: cannot export key 'HKCU' to 'out/x.reg': .*$unreadable" \
        unprivileged "$syskit" reg --registry "$work/store" export HKCU out/x.reg
    [[ ! -e out/x.reg ]] || fail "a failed export left its file"

    chmod 644 "$db"
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"w"="1"\r\n' "$key" >w.reg
    local read_only="registry database '$db' is read-only"
    expect 1 "^syskit reg: 'w.reg' was not applied whole: line 4: cannot write value 'w' .*$read_only" \
        unprivileged "$syskit" reg --registry "$work/store" import w.reg
    expect 1 "^syskit reg: cannot write value 'w' of key 'HKCU.Software.T': .*$read_only" \
        unprivileged "$syskit" reg --registry "$work/store" set "$key" w --string 1
    answers false reg value-exists "$key" w
}

# An export that is interrupted or cannot write its file removes the file it started.
case_interrupted() {
    # A tree large enough that its export is still being written when the signal comes.
    awk 'BEGIN { printf "REGEDIT4\r\n"; for (k = 0; k < 300; ++k) {
        printf "[HKEY_CURRENT_USER\\Software\\T\\K%d]\r\n", k
        for (v = 0; v < 1000; ++v) printf "\"v%d\"=\"some text %d\"\r\n", v, v } }' >tree.reg
    expect 0 '' reg import tree.reg
    ulimit -c 0
    local signal status
    for signal in INT TERM HUP QUIT; do
        with_default_signals "$syskit" reg --registry "$work/store" export "$key" out.reg &
        local pid=$! waited=0
        until [[ -s out.reg ]]; do
            kill -0 "$pid" 2>/dev/null || exit 77  # finished before it could be interrupted
            sleep 0.01
            ((++waited < 3000)) || fail "no export file appeared"
        done
        kill -"$signal" "$pid"
        status=0
        wait "$pid" || status=$?
        ((status == 128 + $(kill -l "$signal"))) ||
            { ((status == 0)) && exit 77; fail "SIG$signal: exited with $status"; }
        [[ ! -e out.reg ]] || fail "SIG$signal left a partial export"
    done
    # A limit on the file's size: the system's reason, and no file.
    expect 1 "^syskit reg: cannot write 'big.reg': File too large$" \
        bash -c 'ulimit -f 64 && exec "$@"' - "$syskit" reg --registry "$work/store" export "$key" big.reg
    [[ ! -e big.reg ]] || fail "a failed export left its file"
}

"case_$case_name"
