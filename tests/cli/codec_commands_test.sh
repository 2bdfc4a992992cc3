#!/usr/bin/env bash
# `syskit encode` and `syskit decode` run as a user runs them: files, pipes, a terminal.
#
# Usage: codec_commands_test.sh SYSKIT CRAFT_PRINTABLE CASE
# Each CASE is one CTest test (see CMakeLists.txt). Exit status 77 means the case cannot run here.
set -euo pipefail

syskit=$1
craft=$2
case_name=$3

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case_round_trip() {
    local text
    for text in "" $'lines\r\nwith CR LF\nand LF\n\n' 'Grüße, 20 € — “quoted” ‰' \
        "$(head -c 30000 /dev/urandom | base64)"; do
        printf '%s' "$text" >plain
        expect 0 '' "$syskit" encode --key1 'first kéy' --key2 second -i plain -o encoded
        check_printable encoded
        expect 0 '' "$syskit" decode --key1 'first kéy' --key2 second -i encoded -o decoded
        cmp plain decoded || fail "file round trip changed '${text:0:40}'"
        # Standard input and output, and "-" naming them.
        "$syskit" encode --key1=k <plain | "$syskit" decode --key1 k -i - -o - >decoded
        cmp plain decoded || fail "stream round trip changed '${text:0:40}'"
    done
    # The printable form may be re-wrapped: decoding skips line breaks and indentation.
    printf 'some text' | "$syskit" encode --key1 k | tr -d '\r\n' | sed 's/^/  /' >joined
    [[ $("$syskit" decode --key1 k -i joined) == 'some text' ]] || fail "joined lines"
}

case_key_files() {
    printf 'the text' >plain
    "$syskit" encode --key1 'sécret' --key2 'two' -i plain -o encoded
    printf 'two\n' >key2
    local key1_file
    for key1_file in 'sécret' $'sécret\r\n' $'\xEF\xBB\xBFsécret\n'; do
        printf '%s' "$key1_file" >key1
        expect 0 '' "$syskit" decode --key1-file key1 --key2-file key2 -i encoded -o decoded
        cmp plain decoded || fail "key file '$key1_file'"
    done
    # Only one line break is dropped: the other is part of the key.
    for key1_file in $'sécret\n\n' $'sécret\r\r\n'; do
        printf '%s' "$key1_file" >key1
        expect 3 'error 33' "$syskit" decode --key1-file key1 --key2 two -i encoded
    done
    # A key read from standard input; encoding with key files as with the keys as arguments.
    printf 'sécret\n' >key1
    expect 0 '' "$syskit" decode --key1-file - --key2 two -i encoded <key1
    [[ $(cat stdout) == 'the text' ]] || fail "key from standard input"
    "$syskit" encode --key1-file key1 --key2-file key2 -i plain -o encoded
    expect 0 '' "$syskit" decode --key1 sécret --key2 two -i encoded -o decoded
    cmp plain decoded || fail "encoding with key files"
}

case_binary() {
    # shellcheck disable=SC2059 # the format is the 256 octal escapes
    printf "$(printf '\\%03o' {0..255})" >all_bytes
    head -c 300000 /dev/urandom >random_bytes
    : >empty
    local file
    for file in all_bytes random_bytes empty; do
        expect 0 '' "$syskit" encode --binary --key1 k --key2 k2 -i "$file" -o encoded
        check_printable encoded
        "$syskit" decode --binary --key1 k --key2 k2 <encoded >decoded
        cmp "$file" decoded || fail "binary round trip of $file"
    done
    # Bytes stand for their code-page characters, whichever side is binary.
    printf '\xe9\x80\x9d' | "$syskit" encode --binary --key1 k | "$syskit" decode --key1 k >decoded
    [[ $(cat decoded) == $'é€\xc2\x9d' ]] || fail "binary to text gave '$(cat decoded)'"
    printf 'é€\xc2\x9d' | "$syskit" encode --key1 k | "$syskit" decode --binary --key1 k >decoded
    [[ $(od -An -tx1 decoded) == ' e9 80 9d' ]] || fail "text to binary gave $(od -An -tx1 decoded)"
}

case_rejected() {
    # A crafted text is the same on every run, so each wrong key is rejected on every run.
    printf 'the quick brown fox jumps over the lazy dog. %.0s' {1..40} >plain
    "$craft" valid right two <plain >printable
    expect 0 '' "$syskit" decode --key1 right --key2 two -i printable -o decoded
    cmp plain decoded || fail "the crafted control text does not decode"
    rm decoded
    head -n -1 printable >truncated
    awk 'NR == 3 { c = substr($0, 1, 1); $0 = (c == "A" ? "B" : "A") substr($0, 2) } 1' \
        printable >damaged
    cmp -s printable damaged && fail "damaging the text changed nothing"
    local args
    for args in "--key1 wrong --key2 two -i printable" "--key1 right -i printable" \
        "--key1 right --key2 two -i truncated" "--key1 right --key2 two -i damaged" \
        "--key1 right --key2 two -i /dev/null"; do
        # shellcheck disable=SC2086 # a list of arguments
        expect 3 '^syskit decode: text rejected \(error 33\)' "$syskit" decode $args
        printf 'kept' >output
        # shellcheck disable=SC2086
        expect 3 'error 33' "$syskit" decode $args -o output
        [[ $(cat output) == kept ]] || fail "'$args' changed the existing output file"
        check_files damaged output plain printable stderr stdout truncated
    done
}

case_damaged_stream() {
    printf 'the quick brown fox jumps over the lazy dog. %.0s' {1..40} >plain
    # Guard bytes intact but the stream inside is damaged: the text is turned away or the
    # codec's error is reported, and nothing is written either way.
    local row kind status pattern
    for row in "bad-checksum|3|^syskit decode: text damaged \(error 5\)" \
        "cut-stream|4|^syskit decode: error 9: Subscript out of range$" \
        "unknown-stream|4|^syskit decode: error -2147221504: The data either was not compressed with HE3"; do
        IFS='|' read -r kind status pattern <<<"$row"
        "$craft" "$kind" key1 key2 <plain >printable
        printf 'kept' >output
        expect "$status" "$pattern" "$syskit" decode --binary --key1 key1 --key2 key2 \
            -i printable -o output
        [[ $(cat output) == kept ]] || fail "$kind changed the existing output file"
        check_files output plain printable stderr stdout
    done
}

case_usage() {
    printf 'text' >plain
    : >empty_key
    printf 'k' >key
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
    # Help and version go to stdout.
    expect 0 '' "$syskit" decode --help
    grep -q -- '--key1-file' stdout || fail "decode --help lists no --key1-file"
    expect 0 '' "$syskit" --version
    grep -Eq '^syskit [0-9]+\.[0-9]+\.[0-9]+$' stdout || fail "--version printed '$(cat stdout)'"
}

case_io_errors() {
    printf 'text' >plain
    printf 'kept' >existing
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
    local status=0
    "$syskit" encode --key1 k -i plain >/dev/full 2>stderr || status=$?
    [[ $status == 1 ]] && grep -q '^syskit encode: cannot write standard output: No space' stderr ||
        fail "writing to a full standard output: $status, $(cat stderr)"
    # A write that fails half-way (file size limit of 1 KiB): the existing file stays as it was,
    # and the temporary file is gone.
    head -c 20000 /dev/urandom | base64 >large
    (
        ulimit -f 1
        expect 1 "^syskit encode: cannot write 'existing': File too large$" \
            "$syskit" encode --key1 k -i large -o existing
    )
    [[ $(cat existing) == kept ]] || fail "a failed write changed the existing file"
    check_files a_directory existing large plain stderr stdout
}

# Texts become bytes through a code page: a text made under 1251 on another system decodes here
# under 1251, and nothing the page cannot hold is lost without being asked for.
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
    # Asked for, the loss is made and counted; invalid UTF-8 is replaced, not fatal.
    printf '\xff' >>russian
    "$syskit" encode --lossy --key1 k -i russian -o lossy 2>stderr
    grep -q "warning: 10 characters that code page 1252 cannot hold are encoded as '?'" stderr ||
        fail "--lossy said '$(cat stderr)'"
    expect 0 '' "$syskit" decode --key1 k -i lossy
    [[ $(cat stdout) == '??????, ????' ]] || fail "--lossy encoded '$(cat stdout)'"
}

case_permissions() {
    need_unprivileged_user
    printf 'text' >plain
    chmod 644 plain
    printf 'secret' >unreadable
    chmod 000 unreadable
    mkdir read_only
    printf 'kept' >read_only/existing
    chmod 755 read_only/existing
    chmod 555 read_only
    expect 1 "^syskit encode: cannot read 'unreadable': Permission denied$" \
        unprivileged "$syskit" encode --key1 k -i unreadable
    expect 1 "^syskit encode: cannot write 'read_only/out': Permission denied$" \
        unprivileged "$syskit" encode --key1 k -i plain -o read_only/out
    expect 1 "^syskit encode: cannot write 'read_only/existing': Permission denied$" \
        unprivileged "$syskit" encode --key1 k -i plain -o read_only/existing
    [[ $(ls -A read_only) == existing && $(cat read_only/existing) == kept ]] ||
        fail "the read-only directory changed: $(ls -A read_only)"
}

case_output_file() {
    printf 'the text' >plain
    # A new file gets mode 0666 less the umask; a replaced one keeps its mode.
    (umask 027 && "$syskit" encode --key1 k -i plain -o created)
    [[ $(stat -c %a created) == 640 ]] || fail "a new output file has mode $(stat -c %a created)"
    printf 'old' >private
    chmod 600 private
    "$syskit" encode --key1 k -i plain -o private
    [[ $(stat -c %a private) == 600 ]] || fail "a replaced file has mode $(stat -c %a private)"
    # A symbolic link keeps pointing to the file, which gets the output: first created through
    # the dangling link, then replaced.
    mkdir real
    ln -s real/target link
    local text
    for text in first second; do
        printf '%s' "$text" | "$syskit" encode --key1 k -o link
        [[ -L link && $("$syskit" decode --key1 k -i real/target) == "$text" ]] ||
            fail "output through a link"
    done
    # Input and output may be the same file: the input is read before anything is replaced.
    cp plain same
    "$syskit" encode --key1 k -i same -o same
    "$syskit" decode --key1 k -i same -o same
    cmp plain same || fail "encoding and decoding a file in place"
    # A device is written in place, never replaced.
    expect 0 '' "$syskit" encode --key1 k -i plain -o /dev/null
    [[ -c /dev/null ]] || fail "/dev/null was replaced"
    check_files created link plain private real same stderr stdout
    [[ $(ls -A real) == target ]] || fail "real/ holds $(ls -A real)"
}

case_out_of_memory() {
    # A memory limit cannot be combined with the sanitizers' shadow memory.
    # (ldd's output is read whole: with pipefail, a grep -q that stops early could fail the check.)
    local libraries
    libraries=$(ldd "$syskit" 2>/dev/null || true)
    [[ $libraries =~ lib[a-z]*san ]] && exit 77
    truncate -s 512M huge
    printf 'kept' >existing
    (
        ulimit -v $((256 << 10))
        expect 1 '^syskit encode: out of memory$' "$syskit" encode --key1 k -i huge -o existing
    )
    [[ $(cat existing) == kept ]] || fail "the existing output file changed"
    check_files existing huge stderr stdout
}

case_interrupted() {
    # Interrupted while encoding: the temporary file is removed, the output never appears.
    head -c $((48 << 20)) /dev/zero | tr '\0' 'a' >large
    ulimit -c 0
    local signal
    for signal in TERM QUIT; do
        with_default_signals "$syskit" encode --key1 k -i large -o output &
        local pid=$! waited=0 status=0
        until compgen -G '.output.*.tmp' >/dev/null; do
            kill -0 "$pid" 2>/dev/null || exit 77  # finished before it could be interrupted
            sleep 0.01
            ((++waited < 3000)) || fail "no temporary file appeared"
        done
        kill -"$signal" "$pid"
        wait "$pid" || status=$?
        ((status == 128 + $(kill -l "$signal"))) ||
            { ((status == 0)) && exit 77; fail "SIG$signal: exited with $status"; }
        check_files large
    done
}

case_progress() {
    # `script` runs the tool on a pseudo-terminal, where there is one.
    script -qec true /dev/null >/dev/null 2>&1 || exit 77
    # Text that compresses, so decoding reports from both of its stages; exactly 1 MiB.
    head -c 800000 /dev/urandom | base64 >text
    head -c $((1 << 20)) text >large
    head -c $(((1 << 20) - 1)) text >small
    local row command input output
    for row in "encode|large|encoded" "decode|encoded|decoded"; do
        IFS='|' read -r command input output <<<"$row"
        # On a terminal, a bar for an input of 1 MiB or more that never moves back and is erased
        # at the end.
        script -qec "'$syskit' $command --binary --key1 k -i $input -o $output" /dev/null >terminal
        grep -aEq "syskit $command \[[#.]+\] +[0-9]+%" terminal ||
            fail "$command: no bar: $(cat -v terminal)"
        grep -aoE '[0-9]+%' terminal | tr -d % | sort -nc || fail "$command: the bar moved back"
        [[ $(tail -c 1 terminal) == $'\r' ]] || fail "$command: the bar was not erased"
        # No bar when stderr is a file.
        expect 0 '' "$syskit" "$command" --binary --key1 k -i "$input" -o "$output"
    done
    cmp large decoded || fail "round trip with a progress bar"
    # No bar for smaller inputs.
    script -qec "'$syskit' encode --binary --key1 k -i small -o small.encode" /dev/null >terminal
    [[ ! -s terminal ]] || fail "a bar for less than 1 MiB: $(cat -v terminal)"
}

"case_$case_name"
