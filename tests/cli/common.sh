# Shared by the CLI test scripts (sourced after `case_name` is set): a scratch directory that is
# removed afterwards, failure reporting, and the checks every script makes of a command.

work=$(mktemp -d)
trap 'chmod -R u+rwX "$work"; rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL [$case_name]: $*" >&2
    exit 1
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

# The directory holds exactly the named files: nothing half-written or temporary is left.
check_files() {
    local listing
    # shellcheck disable=SC2012 # the tests' own file names are plain
    listing=$(ls -A | LC_ALL=C sort | tr '\n' ' ')
    [[ $listing == "$* " ]] || fail "directory holds '$listing', expected '$* '"
}
