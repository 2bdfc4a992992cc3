#!/usr/bin/env bash
# The Windows build under Wine on a system whose ANSI code page is 1251 (Wine started in a Russian
# locale, with a prefix of its own): `syskit reg` reads what another program wrote in Cyrillic
# and writes what another program reads, refuses characters 1251 cannot hold, and `syskit
# decode` opens a text encoded under 1251 on another platform.
#
# Usage: windows_code_page_test.sh SYSKIT_EXE EMULATOR...
set -euo pipefail

exe=$1
emulator=("${@:2}")
case_name=code_page

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
data="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/data"
# The locale chooses Wine's ANSI code page; the project's setup makes it (install-deps.sh).
locale -a | grep -qix 'ru_RU.utf8' || exit 77
export LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8

wine() { "${emulator[@]}" "$@"; }
syskit() { wine "$exe" "$@"; }
key="HKCU\\Software\\syskit-1251-$$"
at_exit() { wine reg delete "$key" /f >/dev/null 2>&1 || true; }

# A value another program wrote, Cyrillic name and text, reads back.
wine reg add "$key" /v 'имя' /d 'значение' /f >/dev/null
prints 'значение' syskit reg get "$key" 'имя'
# What syskit writes another program reads: its UTF-16 export of the key holds it.
expect 0 '' syskit reg set "$key\\Ключ" 'имя' --string 'текст й'
wine reg export "$key\\Ключ" "Z:${work//\//\\}\\wine.reg" /y >/dev/null
iconv -f UTF-16 -t UTF-8 wine.reg | grep -q '"имя"="текст й"' || fail "Wine's export: $(cat wine.reg)"
# syskit's own export is 1251 text.
expect 0 '' syskit reg export "$key\\Ключ" own.reg
iconv -f CP1251 -t UTF-8 own.reg | grep -q '^"имя"="текст й"' || fail "the export: $(od -c own.reg)"
# A character 1251 cannot hold is refused before it reaches the registry.
expect 2 "'é' \\(U\\+00E9\\).*code page 1251" syskit reg set "$key" v --string 'café'
expect 2 "code page 1252: the Windows registry takes names and texts in the system's code page, 1251" \
    syskit reg --code-page 1252 get "$key" 'имя'
# A text encoded under 1251 elsewhere decodes with the system's page.
expect 0 '' syskit decode --key1 ключ --key2 второй -i "$data/cyrillic-1251.enc"
[[ $(cat stdout) == 'привет, мир' ]] || fail "decoded '$(cat stdout)'"
