#!/usr/bin/env bash
# com_check.sh RUNNER... -- DLL VBS: registers syskit.dll with regsvr32, runs a VBScript check
# with cscript, unregisters the server and checks that every key registration wrote is gone.
# RUNNER is the command that starts a Windows program (scripts/wine-run.sh and its prefix).
set -euo pipefail
runner=()
while [[ $1 != -- ]]; do runner+=("$1"); shift; done
shift
dll=$1 vbs=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$dll" "$work/syskit.dll"
# The script host reads a script in the system's code page: SYSKIT_VBS_CODE_PAGE names it for a
# script kept in UTF-8.
if [[ -n ${SYSKIT_VBS_CODE_PAGE:-} ]]; then
  iconv -f UTF-8 -t "CP$SYSKIT_VBS_CODE_PAGE" "$vbs" >"$work/check.vbs"
else
  cp "$vbs" "$work/check.vbs"
fi
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run() { "${runner[@]}" "$@"; }
fail() { echo "com_check: $*" >&2; exit 1; }

classes=(Syskit.CpuInfo Syskit.CPUID Syskit.RegistryAccess Syskit.Codec)
run regsvr32 /s "$(winpath "$work/syskit.dll")" || fail "regsvr32 failed"
for progid in "${classes[@]}"; do
  run reg query "HKCR\\$progid\\CLSID" >/dev/null 2>&1 || fail "$progid not registered"
done
clsid=$(run reg query 'HKCR\Syskit.Codec\CLSID' /ve | grep -o '{[^}]*}')
typelib='{FDC5F538-9AEB-42C9-A3BF-F1447DA62E15}'
run reg query "HKCR\\TypeLib\\$typelib\\1.0" >/dev/null 2>&1 || fail "type library not registered"
run reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel | grep -q Apartment \
  || fail "no ThreadingModel for $clsid"

# A script that stops on an error it does not handle may still exit with 0, so the check counts
# only when the script reached its summary line.
status=0
run cscript //nologo "$(winpath "$work/check.vbs")" "$(winpath "$work")" "syskit-com-check-$$-$RANDOM" \
  >"$work/out.txt" 2>&1 || status=$?
tr -d '\r' <"$work/out.txt"
if ! tr -d '\r' <"$work/out.txt" | grep -Eq '^[0-9]+ checks, 0 failed$'; then
  echo "com_check: the VBScript check did not pass (exit status $status)" >&2
  status=1
fi

run regsvr32 /s /u "$(winpath "$work/syskit.dll")" || fail "regsvr32 /u failed"
for progid in "${classes[@]}"; do
  if run reg query "HKCR\\$progid" >/dev/null 2>&1; then fail "$progid still registered"; fi
done
if run reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1; then fail "CLSID $clsid still registered"; fi
if run reg query "HKCR\\TypeLib\\$typelib" >/dev/null 2>&1; then fail "type library still registered"; fi
exit "$status"
