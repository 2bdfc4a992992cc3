# Shared by the CLI test scripts (sourced after `case_name` is set): a scratch directory that is
# removed afterwards, failure reporting, and the checks every script makes of a command.

# A script may redefine this to clean up what lies outside the scratch directory.
at_exit() { :; }

work=$(mktemp -d)
trap 'at_exit; chmod -R u+rwX "$work"; rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL [$case_name]: $*" >&2
    exit 1
}

# Runs a command as an unprivileged user, so that permissions apply when the tests run as root.
unprivileged() {
    if [[ $(id -u) != 0 ]]; then
        "$@"
    else
        setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
    fi
}

# Runs a command with SIGINT and SIGQUIT at their default actions, which a background job of a
# script would otherwise ignore. For background jobs only (`with_default_signals CMD... &`): the
# command replaces the job's shell, so that $! is its process.
with_default_signals() {
    exec python3 -c 'import os, signal, sys
for s in (signal.SIGINT, signal.SIGQUIT): signal.signal(s, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$@"
}

need_unprivileged_user() {
    if [[ $(id -u) == 0 ]]; then
        command -v setpriv >/dev/null || exit 77
        chmod 755 "$work"
        unprivileged test -x "$syskit" || exit 77
    fi
}

# expect STATUS PATTERN COMMAND...
# Runs COMMAND with stdout to ./stdout and stderr to ./stderr. Checks the exit status; a failing
# command must explain itself in one line of stderr matching the extended regex PATTERN and write
# nothing to stdout, a successful one must leave stderr empty.
expect() {
    local want=$1 pattern=$2 got=0
    shift 2
    "$@" >stdout 2>stderr || got=$?
    [[ $got == "$want" ]] || fail "'$*' exited with $got, expected $want; stderr: $(cat stderr)"
    if [[ $want == 0 ]]; then
        [[ ! -s stderr ]] || fail "'$*' wrote to stderr: $(cat stderr)"
    else
        [[ $(wc -l <stderr) == 1 ]] || fail "'$*' wrote more or less than one line: $(cat stderr)"
        grep -Eq -- "$pattern" stderr || fail "'$*' said '$(cat stderr)', expected /$pattern/"
        [[ ! -s stdout ]] || fail "'$*' failed but wrote to stdout: $(cat stdout)"
    fi
}

# expect_rows ARRAY: runs `expect STATUS PATTERN "$syskit" ARGUMENTS... </dev/null` for each row
# "STATUS|PATTERN|ARGUMENTS" of the array named ARRAY; ARGUMENTS are split at spaces.
expect_rows() {
    local -n rows_=$1
    local row status pattern args
    for row in "${rows_[@]}"; do
        IFS='|' read -r status pattern args <<<"$row"
        # shellcheck disable=SC2086 # each row is a list of arguments
        expect "$status" "$pattern" "$syskit" $args </dev/null
    done
}

# The directory holds exactly the named files: nothing half-written or temporary is left.
check_files() {
    local listing
    # shellcheck disable=SC2012 # the tests' own file names are plain
    listing=$(ls -A | LC_ALL=C sort | tr '\n' ' ')
    [[ $listing == "$* " ]] || fail "directory holds '$listing', expected '$* '"
}

# prints EXPECTED COMMAND...: the command succeeds and prints exactly EXPECTED and a newline
# (EXPECTED may span lines).
prints() {
    local want=$1
    shift
    expect 0 '' "$@"
    printf '%s\n' "$want" | cmp -s - stdout || fail "'$*' printed '$(cat -A stdout)', not '$want'"
}

# answers true|false COMMAND...: a question's answer and its status, with nothing on stderr.
answers() {
    local want=$1 status=0 got=0
    shift
    [[ $want == true ]] || status=1
    "$@" >stdout 2>stderr || got=$?
    [[ $got == "$status" && $(cat stdout) == "$want" && ! -s stderr ]] ||
        fail "'$*' answered '$(cat stdout)' with $got, expected '$want'; stderr: $(cat stderr)"
}

# The printable form exactly as the codec writes it: only the Base64 alphabet, CR LF after every
# line of 60 characters, a shorter last line, and no line break added or changed.
check_printable() {
    LC_ALL=C awk 'BEGIN { RS = "\r\n" }
        /[^A-Za-z0-9+\/=]/ || length($0) > 60 || (NR > 1 && previous != 60) { bad = 1 }
        { previous = length($0) }
        END { exit bad }' "$1" || fail "$1 is not a printable form"
}
