#!/usr/bin/env bash
# wine-run.sh DEFAULT_PREFIX PROGRAM [ARGS...] — runs a Windows program under Debian's wine64.
# The prefix is $SYSKIT_WINEPREFIX when set, else DEFAULT_PREFIX. A new prefix is set up once,
# under a lock, so tests started in parallel do not race to create it. Wine's own diagnostics are
# silenced; the program's input, output and exit status pass through unchanged.
#
# On a loaded machine Wine now and then fails to start a program: it ends at once with a failure
# status and no output at all. Such a run, and only such a one, is started once more (and noted in
# $SYSKIT_WINE_RETRY_LOG, by default $WINEPREFIX/wine-run-retries.log); one that Ctrl+C ended
# (STATUS_CONTROL_C_EXIT, whose low byte is 58) is not. To tell it from a program that ran, the
# output is held in files until the program ends.
set -euo pipefail
default_prefix=$1
shift
export WINEPREFIX=${SYSKIT_WINEPREFIX:-$default_prefix}
export WINEDEBUG=${WINEDEBUG:--all}
wine=${SYSKIT_WINE:-/usr/lib/wine/wine64}
if [[ ! -x "$wine" ]]; then
  echo "wine-run: $wine not found (Debian package wine64)" >&2
  exit 127
fi
mkdir -p "$WINEPREFIX"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  started=${EPOCHREALTIME//[!0-9]/}  # microseconds, whatever the locale's decimal point
  status=0
  "$wine" "$@" >"$out" 2>"$err" || status=$?
  ms=$(( (${EPOCHREALTIME//[!0-9]/} - started) / 1000 ))
  if (( status == 0 || status == 58 || ms >= 500 || attempt == 2 )) || [[ -s $out || -s $err ]]; then
    break
  fi
  echo "$(date -u '+%F %T') $*: status $status after $ms ms, no output; started again" \
    >>"${SYSKIT_WINE_RETRY_LOG:-$WINEPREFIX/wine-run-retries.log}"
done
cat "$out" || true
cat "$err" >&2 || true
exit "$status"
