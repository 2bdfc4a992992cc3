#!/usr/bin/env bash
# com_check.sh DLL VBS RUNNER...: registers syskit.dll with regsvr32, runs a VBScript check with
# cscript, unregisters the server (com_tests checks the keys). RUNNER starts a Windows program.
set -euo pipefail
dll=$1 vbs=$2 runner=("${@:3}")
run() { "${runner[@]}" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
fail() { echo "com_check: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$dll" "$work/syskit.dll"
# The script host reads a script in the system's code page, SYSKIT_VBS_CODE_PAGE; it is told it.
page=${SYSKIT_VBS_CODE_PAGE:-}
if [[ -n $page ]]; then iconv -f UTF-8 -t "CP$page" "$vbs"; else cat "$vbs"; fi >"$work/check.vbs"
run regsvr32 /s "$(winpath "$work/syskit.dll")" || fail "regsvr32 failed"
# A script stopped by an error may exit with 0: it passes only when it prints its summary line.
run cscript //nologo "$(winpath "$work/check.vbs")" "$(winpath "$work")" \
  "syskit-com-check-$$-$RANDOM" "${page:-default}" 2>&1 | tr -d '\r' | tee "$work/out.txt" || true
grep -Eq '^[0-9]+ checks, 0 failed$' "$work/out.txt" && passed=true || passed=false
run regsvr32 /s /u "$(winpath "$work/syskit.dll")" || fail "regsvr32 /u failed"
$passed || fail "the VBScript check did not pass"
