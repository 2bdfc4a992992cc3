#!/usr/bin/env bash
# wine-run.sh DEFAULT_PREFIX PROGRAM [ARGS...] — runs a Windows program under Debian's wine64.
# The prefix is $SYSKIT_WINEPREFIX when set, else DEFAULT_PREFIX. A new prefix is set up once,
# under a lock, so tests started in parallel do not race to create it. Wine's own diagnostics are
# silenced; the program's output and exit status pass through unchanged.
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
exec "$wine" "$@"
