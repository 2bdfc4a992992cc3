#!/usr/bin/env bash
# `syskit reg` run as a user runs it: keys and values, the REGEDIT4 files, failures and usage.
#
# Every case works in a registry directory of its own (--registry, or SYSKIT_REGISTRY), never in
# the user's. The .reg files are written here by hand, so their bytes are known exactly.
#
# Usage: reg_command_test.sh SYSKIT CASE
# Each CASE is one CTest test (see CMakeLists.txt). Exit status 77 means the case cannot run here.
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
    expect 0 '' reg create "$key"
    answers true reg exists "$key"
    answers true reg exists 'hkey_current_user\SOFTWARE\t'
    answers false reg exists "$key\\Missing"
    expect 0 '' reg set "$key" text --string 'hello world'
    expect 0 '' reg set "$key" number --dword 42
    expect 0 '' reg set "$key" bytes --binary '01 02 FF'
    expect 0 '' reg set "$key" @ --string 'the default'
    prints 'hello world' reg get "$key" text
    prints 42 reg get "$key" number --type dword
    prints '01 02 FF' reg get "$key" bytes --type binary
    prints 'the default' reg get "$key" ''
    prints "$(printf 'text\thello world\nnumber\t42\nbytes\t01 02 FF\n\tthe default')" \
        reg values "$key"
    prints "$(printf 'number\t42')" reg values "$key" --type 4
    expect 0 '' reg values "$key" --json
    json_is '[{"name": "text", "value": "hello world"}, {"name": "number", "value": 42},
              {"name": "bytes", "value": "01 02 FF"}, {"name": "", "value": "the default"}]'
    expect 0 '' reg get "$key" number --type dword --json
    json_is 42
    expect 0 '' reg get "$key" text --json
    json_is '"hello world"'

    expect 0 '' reg create "$key\\Sub B"
    expect 0 '' reg create "$key\\a"
    prints "$(printf 'a\nSub B')" reg keys "$key"
    expect 0 '' reg keys "$key" --json
    json_is '["a", "Sub B"]'
    answers true reg has-subkeys "$key"
    answers false reg has-subkeys "$key\\a"
    answers true reg value-exists "$key" number
    expect 0 '' reg unset "$key" number
    answers false reg value-exists "$key" number
    expect 0 '' reg unset "$key" number  # deleting what is not there is done too

    expect 1 "^syskit reg: key 'HKCU.Software.T' was not deleted: it has subkeys$" reg delete "$key"
    expect 0 '' reg delete "$key\\a"
    expect 0 '' reg delete "$key\\Sub B"
    expect 0 '' reg delete "$key"
    answers false reg exists "$key"
    # SYSKIT_REGISTRY selects the store when --registry does not.
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
    prints 0 reg get "$key" n --type dword  # the refused writes changed nothing

    # Hex text: spaces anywhere, either case, digits in pairs; an odd last digit is kept when the
    # pairs before it are odd in number and dropped when they are even.
    local hex
    for row in '41 42 43|41 42 43' '414243|41 42 43' '  4 142  43 |41 42 43' 'ff0a|FF 0A' \
        '1|' '123|12 03' '12345|12 34' '1234567|12 34 56 07' '|'; do
        IFS='|' read -r hex printed <<<"$row"
        expect 0 '' reg set "$key" b --binary "$hex"
        prints "$printed" reg get "$key" b --type binary
    done
    expect 2 "^syskit reg: --binary 'GG': not hexadecimal" reg set "$key" b --binary GG

    expect 1 "^syskit reg: cannot write value 'v' of key 'HKCU.Software.Missing': the key does not exist" \
        reg set 'HKCU\Software\Missing' v --string x --no-create
    answers false reg exists 'HKCU\Software\Missing'
    expect 0 '' reg set 'HKCU\Software\Made\Deep' v --string x
    answers true reg exists 'HKCU\Software\Made'
}

case_get_defaults() {
    expect 0 '' reg create "$key"
    expect 1 "^syskit reg: cannot read value 'v' of key 'HKCU.Software.T': no such value$" \
        reg get "$key" v
    expect 1 "^syskit reg: cannot read value 'v' of key 'HKCU.Software.Nope': no such key$" \
        reg get 'HKCU\Software\Nope' v --type dword
    prints fallback reg get "$key" v --default fallback
    prints 16 reg get "$key" v --type dword --default 0x10
    prints 'AA' reg get "$key" v --type binary --default AA
    expect 2 "^syskit reg: --default 'x'" reg get "$key" v --type dword --default x
    # Readers do not look at the type: two bytes read as a number, text read as bytes.
    expect 0 '' reg set "$key" v --binary '01 02'
    prints 513 reg get "$key" v --type dword
    expect 0 '' reg set "$key" s --string AB
    prints '41 42 00' reg get "$key" s --type binary  # text comes back with its terminator
    # Data the reader cannot return fails without --default and gives the default with it.
    expect 0 '' reg set "$key" long --string "$(printf 'x%.0s' {1..300})"
    expect 1 "^syskit reg: value 'long' of key .* cannot be read as text: it is longer than 254" \
        reg get "$key" long
    prints short reg get "$key" long --default short
    expect 0 '' reg set "$key" wide --binary '01 02 03 04 05'
    expect 1 "cannot be read as a number" reg get "$key" wide --type dword
    # Bytes read as text keep their NUL in plain output; JSON escapes it.
    expect 0 '' reg set "$key" nul --binary '41 00 42 00'
    expect 0 '' reg get "$key" nul
    printf 'A\0B\n' | cmp -s - stdout || fail "NUL in plain output: $(od -c stdout)"
    expect 0 '' reg get "$key" nul --json
    json_is '"A\u0000B"'
}

# The small tree the export cases write, and its file.
make_tree() {
    expect 0 '' reg set "$key" a --string b
    expect 0 '' reg set "$key" c --binary '01 02 FF'
    expect 0 '' reg set "$key" d --dword 26
    expect 0 '' reg set "$key\\Sub" @ --string x
}
tree_file() {
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n"a"="b"\r\n"c"=hex:01,02,FF\r\n'
    printf '"d"=dword:0000001A\r\n\r\n[HKEY_CURRENT_USER\\Software\\T\\Sub]\r\n@="x"\r\n\r\n'
}

case_export_import() {
    make_tree
    tree_file >want.reg
    expect 0 '' reg export "$key" out.reg
    cmp out.reg want.reg || fail "export: $(cat -A out.reg)"
    expect 1 "^syskit reg: cannot export to 'out.reg': the file exists$" reg export "$key" out.reg
    cmp out.reg want.reg || fail "an existing file was changed"
    expect 0 '' reg export "$key" alone.reg --no-subkeys
    head -c 93 want.reg | cmp - alone.reg || fail "--no-subkeys: $(cat -A alone.reg)"

    # Imported into an empty store, the file exports to the same bytes.
    expect 0 '' "$syskit" reg --registry "$work/second" import out.reg
    expect 0 '' "$syskit" reg --registry "$work/second" export "$key" again.reg
    cmp want.reg again.reg || fail "import and export again: $(cat -A again.reg)"
    # Deletions: a "-" value and a "[-" key.
    printf 'regedit4\r\n\r\n[HKCU\\Software\\T]\r\n"a"=-\r\n[-HKCU\\Software\\T\\Sub]\r\n' >del.reg
    expect 0 '' reg import del.reg
    answers false reg value-exists "$key" a
    answers false reg exists "$key\\Sub"

    # Files that are not REGEDIT4, and a file the import stops in.
    printf 'REGEDIT4\n\n[HKCU\\Software\\T]\n"z"="1"\n' >lf.reg
    printf 'Windows Registry Editor Version 5.00\r\n\r\n' >v5.reg
    printf 'REGEDIT4 \r\n' >space.reg
    : >empty.reg
    expect 1 "^syskit reg: 'lf.reg' is not a REGEDIT4 file: .*CR LF, not LF$" reg import lf.reg
    expect 1 "^syskit reg: 'v5.reg' is not a REGEDIT4 file" reg import v5.reg
    expect 1 "^syskit reg: 'space.reg' is not a REGEDIT4 file" reg import space.reg
    expect 1 "^syskit reg: 'empty.reg' is not a REGEDIT4 file" reg import empty.reg
    answers false reg value-exists "$key" z
    printf 'REGEDIT4\r\n[HKCU\\Software\\T]\r\n"y"="1"\r\n "[" \r\n"w"="2"\r\n' >stops.reg
    expect 1 "^syskit reg: cannot import 'stops.reg': line 4 is a key line without a key" \
        reg import stops.reg
    answers true reg value-exists "$key" y
    expect 1 "^syskit reg: cannot read 'missing.reg': No such file or directory$" \
        reg import missing.reg
    expect 1 "^syskit reg: cannot write 'no_dir/x.reg': No such file or directory$" \
        reg export "$key" no_dir/x.reg

    # On a terminal the key being written is shown and erased at the end; nowhere else.
    script -qec true /dev/null >/dev/null 2>&1 || return 0
    script -qec "'$syskit' reg --registry '$work/second' export '$key' tty.reg" /dev/null >terminal
    grep -aqF $'\rHKEY_CURRENT_USER\\Software\\T' terminal || fail "no progress: $(cat -A terminal)"
    [[ $(tail -c 1 terminal) == $'\r' ]] || fail "the progress was not erased: $(cat -A terminal)"
    cmp want.reg tty.reg || fail "export on a terminal: $(cat -A tty.reg)"
}

case_utf8() {
    expect 0 '' reg set "$key\\Café" 'prix é' --string 'cinq €'
    prints 'cinq €' reg get "$key\\café" 'PRIX É'
    prints "$(printf 'prix é\tcinq €')" reg values "$key\\Café"
    prints 'Café' reg keys "$key"
    expect 0 '' reg values "$key\\Café" --json
    json_is '[{"name": "prix é", "value": "cinq €"}]'
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
    expect 1 "$pattern" reg get 'HKCU\x' v --default 1
    expect 1 "$pattern" reg keys HKCU
    expect 1 "$pattern" reg set 'HKCU\x' v --dword 1
    expect 1 "^syskit reg: cannot export key 'HKCU.x' to 'x.reg': .*$pattern" reg export 'HKCU\x' x.reg
    [[ ! -e x.reg ]] || fail "a failed export left its file"
    printf 'REGEDIT4\r\n\r\n[HKCU\\x]\r\n"v"="1"\r\n' >x.reg
    expect 1 "^syskit reg: 'x.reg' was not applied whole: line 4: .*$pattern" reg import x.reg
    # Other root keys have databases of their own.
    expect 0 '' reg create 'HKLM\Software\x'
    touch not_a_directory
    expect 1 "^syskit reg: cannot create key 'HKCU.x': .*not_a_directory.*: Not a directory$" \
        "$syskit" reg --registry "$work/not_a_directory/sub" create 'HKCU\x'

    expect 1 "^syskit reg: cannot create key 'HKXX.a': unknown root key 'HKXX'$" reg create 'HKXX\a'
    expect 1 "^syskit reg: cannot write value 'v' of key 'nohive': unknown root key 'nohive'$" \
        reg set nohive v --string x
    expect 1 "^syskit reg: cannot open key '.x': the path names no root key$" reg keys '\x'
    expect 1 "^syskit reg: cannot open key 'bogus': unknown root key 'bogus'$" reg keys bogus
    expect 3 "^syskit reg: cannot open key 'Software': unknown root key 'Software'$" \
        reg has-subkeys Software
    expect 3 "^syskit reg: cannot open key 'HKXX.a': unknown root key 'HKXX'$" reg exists 'HKXX\a'
    # A long name is shown by its start and its length, so the message stays one short line.
    expect 1 "^syskit reg: cannot create key 'HKLM.n{40,}…' \(20005 characters\): .*255" \
        reg create "HKLM\\$(printf 'n%.0s' {1..20000})"
    (($(wc -c <stderr) < 400)) || fail "a long name was echoed whole"
    expect 1 "^syskit reg: cannot open key 'HKLM.missing': no such key" reg values 'HKLM\missing'
    expect 1 "^syskit reg: cannot delete key 'HKLM.missing': no such key" reg delete 'HKLM\missing'
}

case_usage() {
    local rows=(
        "^syskit reg: .*required|"
        "^syskit reg: .*frobnicate|frobnicate"
        "^syskit reg: .*PATH.*required|create"
        "^syskit reg: .*NAME.*required|get HKCU"
        "^syskit reg: give the value with exactly one of.*'syskit reg set --help'|set HKCU n"
        "^syskit reg: .*excludes|set HKCU n --string a --dword 1"
        "^syskit reg: .*--type|get HKCU n --type float"
        "^syskit reg: .*--type|values HKCU --type x"
        "^syskit reg: .*--type.*\(see 'syskit reg values --help'\)$|values HKCU --type 99"
        "^syskit reg: .*--frobnicate.*\(see 'syskit reg keys --help'\)$|keys HKCU --frobnicate"
        "^syskit reg: .*extra|exists HKCU extra"
    )
    local row pattern args
    for row in "${rows[@]}"; do
        IFS='|' read -r pattern args <<<"$row"
        # shellcheck disable=SC2086 # each row is a list of arguments
        expect 2 "$pattern" "$syskit" reg --registry "$work/store" $args </dev/null
    done
    expect 2 "^syskit reg: --registry needs a directory" "$syskit" reg --registry '' exists HKCU
    [[ ! -e store && ! -e default_store ]] || fail "a refused command created a store"
    expect 0 '' "$syskit" reg --help
    local word
    for word in create delete unset set exists has-subkeys value-exists keys values get export \
        import --registry; do
        grep -q -- "$word" stdout || fail "reg --help does not mention $word"
    done
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
    chmod 755 store
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"w"="1"\r\n' "$key" >w.reg
    local read_only="registry database '$db' is read-only"
    expect 1 "^syskit reg: 'w.reg' was not applied whole: line 4: cannot write value 'w' .*$read_only" \
        unprivileged "$syskit" reg --registry "$work/store" import w.reg
    expect 1 "^syskit reg: cannot write value 'w' of key 'HKCU.Software.T': .*$read_only" \
        unprivileged "$syskit" reg --registry "$work/store" set "$key" w --string 1
    answers false reg value-exists "$key" w

    # Without a home directory the store is not made under the current directory.
    expect 1 "^syskit reg: cannot create key 'HKCU.x': .*registry" \
        unprivileged env -u SYSKIT_REGISTRY -u XDG_DATA_HOME HOME= "$syskit" reg create 'HKCU\x'
    [[ ! -e .local ]] || fail "the store was made in the current directory"
}

# An export that is interrupted or cannot write its file removes the file it started.
case_interrupted() {
    # A tree large enough that its export is still being written when the signal comes.
    awk 'BEGIN { printf "REGEDIT4\r\n"
        for (k = 0; k < 300; ++k) {
            printf "[HKEY_CURRENT_USER\\Software\\T\\K%d]\r\n", k
            for (v = 0; v < 1000; ++v) printf "\"v%d\"=\"some text %d\"\r\n", v, v
        } }' >tree.reg
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
    expect 0 '' reg export "$key" out.reg
}

"case_$case_name"
