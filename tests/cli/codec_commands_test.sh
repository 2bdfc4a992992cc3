#!/usr/bin/env bash
# shellcheck disable=SC2086,SC2059 # unquoted argument lists; printf formats built from escapes
# SYSKIT CASE: encode and decode run as a user runs them; status 77: cannot run.
set -euo pipefail
syskit=$1 case_name=$2
data="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/data"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# refuses STATUS PATTERN ARGS...: `syskit ARGS... -o output` fails so, leaving the existing output.
refuses() {
    printf 'kept' >output
    expect "$1" "$2" "$syskit" "${@:3}" -o output
    [[ $(cat output) == kept ]] || fail "'${*:3}' changed the existing output file"
}

case_round_trip() {
    local text
    for text in "" $'lines\r\nwith CR LF\nand LF\n\n' 'Grüße, 20 € — “quoted” ‰' \
        "$(head -c 30000 /dev/urandom | base64)"; do
        printf '%s' "$text" >plain
        expect 0 '' "$syskit" encode --key1 'first kéy' --key2 second -i plain -o encoded
        check_printable encoded
        expect 0 '' "$syskit" decode --key1 'first kéy' --key2 second -i encoded -o decoded
        "$syskit" encode --key1=k <plain | "$syskit" decode --key1 k -i - -o - >streamed
        cmp plain decoded && cmp plain streamed || fail "round trip changed '${text:0:40}'"
    done
}

# A key file loses one line break and a byte order mark, not a second break; "-" is stdin.
case_key_files() {
    printf 'the text\n' >plain && printf 'two\n' >key2
    "$syskit" encode --key1 'sécret' --key2 'two' -i plain -o encoded
    local row
    for row in '0|sécret' $'0|sécret\r\n' $'0|\xEF\xBB\xBFsécret\n' $'3|sécret\n\n' $'3|sécret\r\r\n'; do
        printf '%s' "${row#*|}" >key1
        expect "${row%%|*}" 'error 33' "$syskit" decode --key1-file key1 --key2-file key2 -i encoded
        [[ ${row%%|*} == 3 || $(cat stdout) == 'the text' ]] || fail "key file '${row#*|}'"
    done
    printf 'sécret\n' >key1
    prints 'the text' "$syskit" decode --key1-file - --key2 two -i encoded <key1
    "$syskit" encode --key1-file key1 --key2-file key2 -i plain -o encoded
    prints 'the text' "$syskit" decode --key1 sécret --key2 two -i encoded
}

# Bytes stand for their code-page characters, whichever side is binary.
case_binary() {
    printf "$(printf '\\%03o' {0..255})" >all_bytes
    head -c 300000 /dev/urandom >random_bytes && : >empty
    local file
    for file in all_bytes random_bytes empty; do
        expect 0 '' "$syskit" encode --binary --key1 k --key2 k2 -i "$file" -o encoded
        check_printable encoded
        "$syskit" decode --binary --key1 k --key2 k2 <encoded | cmp "$file" - || fail "$file"
    done
    printf '\xe9\x80\x9d' | "$syskit" encode --binary --key1 k | "$syskit" decode --key1 k >text
    printf 'é€\xc2\x9d' | "$syskit" encode --key1 k | "$syskit" decode --binary --key1 k >bytes
    [[ $(cat text) == $'é€\xc2\x9d' && $(od -An -tx1 bytes) == ' e9 80 9d' ]] || fail "code page"
}

# The texts in data/: 10 times "the quick brown fox jumps over the lazy dog. " in containers of a
# fixed dummy block, with correct guard bytes around the stream: fox-valid.enc (keys "right" and
# "two"), and under "key1" and "key2" the text's stream with its checksum byte changed
# (damaged-bad-checksum), cut inside its header (damaged-cut-stream), or a stream "HE9"
# (damaged-unknown-stream).

# Wrong keys, cut or damaged texts are rejected; nothing written.
case_rejected() {
    printf 'the quick brown fox jumps over the lazy dog. %.0s' {1..10} >plain
    cp "$data/fox-valid.enc" printable
    expect 0 '' "$syskit" decode --key1 right --key2 two -i printable
    cmp -s plain stdout || fail "the control text does not decode"
    head -n -1 printable >truncated
    awk 'NR == 3 { $0 = (substr($0, 1, 1) == "A" ? "B" : "A") substr($0, 2) } 1' printable >damaged
    local args
    for args in "--key1 wrong --key2 two -i printable" "--key1 right -i printable" \
        "--key1 right --key2 two -i truncated" "--key1 right --key2 two -i damaged" \
        "--key1 right --key2 two -i /dev/null"; do
        refuses 3 '^syskit decode: text rejected \(error 33\)' decode $args
        check_files damaged output plain printable stderr stdout truncated
    done
}

# Guard bytes intact, the stream inside damaged: turned away or the codec's error, no output.
case_damaged_stream() {
    local row kind status pattern
    for row in "bad-checksum|3|^syskit decode: text damaged \(error 5\)" \
        "cut-stream|4|^syskit decode: error 9: Subscript out of range$" \
        "unknown-stream|4|^syskit decode: error -2147221504: The data either was not compressed with HE3"; do
        IFS='|' read -r kind status pattern <<<"$row"
        cp "$data/damaged-$kind.enc" printable
        refuses "$status" "$pattern" decode --binary --key1 key1 --key2 key2 -i printable
        check_files output printable stderr stdout
    done
}

case_usage() {
    printf 'text' >plain && printf 'k' >key && : >empty_key
    printf 'x%.0s' {1..32768} >key2_too_long
    printf 'é%.0s' {1..32767} >key2_longest  # 65,534 bytes, but 32,767 characters
    local rows=(
        "2|^syskit: .*subcommand.*see 'syskit --help'|"
        "2|^syskit: unknown command 'frobnicate' \(see 'syskit --help'\)$|frobnicate --key1 k"
        "2|^syskit decode: key1 is missing.*see 'syskit decode --help'|decode --key2 k -i plain"
        "2|^syskit encode: key1 file 'empty_key' holds an empty key|encode --key1-file empty_key -i plain"
        "2|^syskit decode: --key2 excludes --key2-file|decode --key1 k --key2 k --key2-file key -i plain"
        "2|^syskit encode: key2 has 32768 characters; at most 32767|encode --key1 k --key2-file key2_too_long -i plain"
        "2|^syskit encode: standard input can be read only once|encode --key1-file -"
        "2|^syskit decode: key1 file '/dev/zero' is larger than 1 MiB|decode --key1-file /dev/zero -i plain"
        "2|^syskit encode: .*not expected.*--frobnicate|encode --key1 k --frobnicate -i plain"
        "0||encode --key1 k --key2-file key2_longest -i plain"
    )
    expect_rows rows
    expect 2 "^syskit encode: key1 must not be empty \(see 'syskit encode --help'\)$" \
        "$syskit" encode --key1 '' -i plain
    expect 0 '' "$syskit" decode --help && grep -q -- '--key1-file' stdout || fail "decode --help"
    expect 0 '' "$syskit" --version && grep -Eqx 'syskit [0-9]+\.[0-9]+\.[0-9]+' stdout || fail "--version"
}

# Read and write errors; a write failing half-way (1 KiB limit) leaves the existing file.
case_io_errors() {
    printf 'text' >plain
    mkdir a_directory
    local rows=(
        "1|^syskit encode: cannot read 'missing': No such file or directory$|encode --key1 k -i missing"
        "1|^syskit decode: cannot read 'a_directory': Is a directory$|decode --key1 k -i a_directory"
        "1|^syskit encode: cannot read 'missing': No such file or directory$|encode --key1-file missing -i plain"
        "1|^syskit encode: cannot write 'no_such_dir/out': No such file or directory$|encode --key1 k -i plain -o no_such_dir/out"
        "1|^syskit encode: cannot write 'a_directory': Is a directory$|encode --key1 k -i plain -o a_directory"
        "1|^syskit encode: cannot write '/dev/full': No space left on device$|encode --key1 k -i plain -o /dev/full"
    )
    expect_rows rows
    [[ -z $(ls -A a_directory) && -c /dev/full ]] || fail "a_directory or /dev/full changed"
    expect 1 '^syskit encode: cannot write standard output: No space' \
        sh -c '"$0" encode --key1 k -i plain >/dev/full' "$syskit"
    head -c 20000 /dev/urandom | base64 >large
    (ulimit -f 1 && refuses 1 "^syskit encode: cannot write 'output': File too large$" \
        encode --key1 k -i large)
    check_files a_directory large output plain stderr stdout
}

# A text made under 1251 elsewhere decodes here under 1251; nothing is lost unless --lossy.
case_code_pages() {
    printf 'привет, мир' >russian
    local keys=(--key1 ключ --key2 второй)
    expect 0 '' "$syskit" decode --code-page 1251 "${keys[@]}" \
        -i "$(dirname "${BASH_SOURCE[0]}")/data/cyrillic-1251.enc"
    cmp -s russian stdout || fail "the 1251 text decoded as '$(cat stdout)'"
    SYSKIT_CODE_PAGE=1251 expect 0 '' "$syskit" encode "${keys[@]}" -i russian -o encoded
    expect 0 '' "$syskit" decode --code-page 1251 "${keys[@]}" -i encoded -o decoded
    cmp -s russian decoded || fail "the round trip under 1251"
    local rows=(
        "2|^syskit encode: key1 holds 'п' \(U\+043F\) at character 1, which code page 1252 cannot hold \(6 such|encode --key1 пароль -i russian"
        "2|^syskit decode: key2 holds '日' \(U\+65E5\) at character 2|decode --key1 k --key2 a日 -i encoded"
        "2|^syskit encode: the text holds 'п' \(U\+043F\) at character 1, which code page 1252 cannot hold \(9 such|encode --key1 k -i russian"
        "2|^syskit encode: key1 holds '😀' \(U\+1F600\)|encode --code-page 1251 --key1 x😀 -i russian"
        "2|^syskit encode: --code-page '932': not a code page|encode --code-page 932 --key1 k -i russian"
    )
    expect_rows rows
    SYSKIT_CODE_PAGE=1 expect 2 "SYSKIT_CODE_PAGE '1'" "$syskit" encode --key1 k -i russian
    printf '\xff' >>russian
    "$syskit" encode --lossy --key1 k -i russian 2>stderr | "$syskit" decode --key1 k >decoded
    grep -q "warning: 10 characters that code page 1252 cannot hold are encoded as '?'" stderr &&
        [[ $(cat decoded) == '??????, ????' ]] || fail "--lossy: '$(cat stderr)', '$(cat decoded)'"
}

case_permissions() {
    need_unprivileged_user
    printf 'text' >plain && printf 'secret' >unreadable && mkdir read_only
    printf 'kept' >read_only/existing
    chmod 644 plain && chmod 000 unreadable && chmod 755 read_only/existing && chmod 555 read_only
    local row
    for row in "read 'unreadable'|-i unreadable" "write 'read_only/out'|-i plain -o read_only/out" \
        "write 'read_only/existing'|-i plain -o read_only/existing"; do
        expect 1 "^syskit encode: cannot ${row%%|*}: Permission denied$" \
            unprivileged "$syskit" encode --key1 k ${row#*|}
    done
    [[ $(ls -A read_only) == existing && $(cat read_only/existing) == kept ]] ||
        fail "the read-only directory changed: $(ls -A read_only)"
}

case_output_file() {
    printf 'the text' >plain
    (umask 027 && "$syskit" encode --key1 k -i plain -o created)
    printf 'old' >private && chmod 600 private
    "$syskit" encode --key1 k -i plain -o private
    [[ $(stat -c %a created) == 640 && $(stat -c %a private) == 600 ]] ||
        fail "modes of a new and a replaced file: $(stat -c %a created private)"
    mkdir real && ln -s real/target link  # created through the dangling link, then replaced
    printf 'first' | "$syskit" encode --key1 k -o link
    printf 'second' | "$syskit" encode --key1 k -o link
    [[ -L link && $("$syskit" decode --key1 k -i real/target) == second ]] || fail "through a link"
    cp plain same
    "$syskit" encode --key1 k -i same -o same
    "$syskit" decode --key1 k -i same -o same
    cmp plain same || fail "encoding and decoding a file in place"
    expect 0 '' "$syskit" encode --key1 k -i plain -o /dev/null
    [[ -c /dev/null && $(ls -A real) == target ]] || fail "/dev/null replaced or real/ changed"
    check_files created link plain private real same stderr stdout
}

# Not under the sanitizers' shadow memory (ldd's output read whole: grep -q could fail pipefail).
case_out_of_memory() {
    [[ $(ldd "$syskit" 2>/dev/null || true) =~ lib[a-z]*san ]] && exit 77
    truncate -s 512M huge
    (ulimit -v $((256 << 10)) && refuses 1 '^syskit encode: out of memory$' encode --key1 k -i huge)
    check_files huge output stderr stdout
}

# Interrupted: the temporary file is removed, the output never appears.
case_interrupted() {
    head -c $((48 << 20)) /dev/zero | tr '\0' 'a' >large
    ulimit -c 0
    local signal
    for signal in TERM QUIT; do
        with_default_signals "$syskit" encode --key1 k -i large -o output &
        local pid=$! waited=0 status=0
        until compgen -G '.output.*.tmp' >/dev/null; do
            kill -0 "$pid" 2>/dev/null || exit 77  # finished before it could be interrupted
            sleep 0.01 && ((++waited < 3000)) || fail "no temporary file appeared"
        done
        kill -"$signal" "$pid"
        wait "$pid" || status=$?
        ((status == 128 + $(kill -l "$signal"))) ||
            { ((status == 0)) && exit 77; fail "SIG$signal: exited with $status"; }
        check_files large
    done
}

# On a terminal, for 1 MiB or more: a bar never moving back, erased; none to a file or for less.
case_progress() {
    script -qec true /dev/null >/dev/null 2>&1 || exit 77
    head -c 800000 /dev/urandom | base64 >text && head -c $((1 << 20)) text >large
    head -c -1 large >small
    local command input=large output
    for command in encode decode; do
        output=${command}d  # encoded, then decoded
        script -qec "'$syskit' $command --binary --key1 k -i $input -o $output" /dev/null >terminal
        grep -aEq "syskit $command \[[#.]+\] +[0-9]+%" terminal ||
            fail "$command: no bar: $(cat -v terminal)"
        grep -aoE '[0-9]+%' terminal | tr -d % | sort -nc || fail "$command: the bar moved back"
        [[ $(tail -c 1 terminal) == $'\r' ]] || fail "$command: the bar was not erased"
        expect 0 '' "$syskit" "$command" --binary --key1 k -i "$input" -o "$output"
        input=$output
    done
    cmp large decoded || fail "round trip with a progress bar"
    script -qec "'$syskit' encode --binary --key1 k -i small -o small.encode" /dev/null >terminal
    [[ ! -s terminal ]] || fail "a bar for less than 1 MiB: $(cat -v terminal)"
}

"case_$case_name"
