#!/usr/bin/env bash
# `syskit cpu` as a user runs it (SYSKIT CASE; status 77: cannot run here): live answers against
# /proc/cpuinfo (the kernel's reading of the same registers), hand-written dumps, the command line.
set -euo pipefail

syskit=$1
case_name=$2

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# A P4 as report tools write it (headers, annotations, sub-leaf labels, varied separators, tabs,
# trailing blanks, CR LF); the second processor differs and must not count.
p4_dump() {
    sed 's/\\t/\t/; s/$/ \r/' <<'EOF_DUMP'
------[ Versions ]------
CPUID Revision : 00000F29h
------[ CPUID Registers / Logical CPU #0 ]------
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69 [GenuineIntel]
CPUID 00000001  \t00000F29-00010809-00004400-BFEBFBFF
CPUID 00000002 : 665B5001 00000000 00000000 007A7000 [SL 00] [L1: 8 KB]
CPUID 00000002 :12345601-12345678-12345678-12345678 [SL 01]
CPUID 80000000 80000004-00000000-00000000-00000000\t[x]
CPUID 80000001: 00000000-00000000-00000000-00000000 [L2: 512 KB] / L3: 0 KB]
CPUID 80000002: 20202020-20202020-20202020-6E492020 [            In]
CPUID 80000003: 286C6574-50202952-69746E65-52286D75 [tel(R) Pentium(R]
CPUID 80000004: 20342029-20555043-30342E32-007A4847 [) 4 CPU 2.40GHz]
------[ CPUID Registers / Logical CPU #1 ]------
CPUID 00000001: 00000F24-01010809-00004400-BFEBFBFF
EOF_DUMP
}

# has_line LINE: stdout holds LINE exactly, once the padding after its label is squeezed.
has_line() {
    sed -E 's/^([^:]*): +/\1: /' stdout | grep -qxF -- "$1" || fail "no line '$1' in: $(cat stdout)"
}

case_report() {
    expect 0 '' "$syskit" cpu
    grep -Eq '^clock: +[0-9.]+ s, [0-9]+ cycles, ' stdout || fail "no clock line"
    grep -Eq '^routines placed: +[0-3] of 3$' stdout || fail "no 'routines placed' line"
    [[ $(tr -d '\000' <stdout | wc -c) == $(wc -c <stdout) ]] || fail "raw NUL in the report"
    local vendor
    vendor=$(sed -n 's/^vendor_id[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
    [[ -n $vendor ]] || exit 77
    grep -Eq "^vendor: +\"$vendor\" \(code [0-9]+\), manufacturer \"[^\"]*\"$" stdout ||
        fail "the kernel says $vendor; the report says $(grep '^vendor:' stdout)"
}

case_json() {
    expect 0 '' "$syskit" cpu --json
    # The signature and the basic flags agree with the kernel's view where there is one.
    python3 - stdout /proc/cpuinfo <<'EOF_PY' || fail "JSON check failed"
import json, os, re, sys
d = json.load(open(sys.argv[1]))
assert len(d["Feature"]) == 96 and len(d["leaves"]) == 13 and d["clock"]["seconds"] > 0.1
text = open(sys.argv[2]).read().split("\n\n")[0] if os.path.exists(sys.argv[2]) else ""
info = dict(re.findall(r"^(vendor_id|cpu family|model|stepping|flags)\s*: (.*)$", text, re.M))
if "vendor_id" in info and "cpu family" in info:
    family = d["CpuFamily"]["std"] + (d["CpuFamilyEx"]["std"] if d["CpuFamily"]["std"] == 15 else 0)
    model = d["CpuModel"]["std"] + (d["CpuModelEx"]["std"] << 4 if family >= 6 else 0)
    assert (d["VendorIdStr"]["std"], family, model, d["CpuStepping"]["std"]) == (
        info["vendor_id"], int(info["cpu family"]), int(info["model"]), int(info["stepping"])), info
    for name, n in (("fpu", 32), ("tsc", 36), ("cx8", 40), ("cmov", 47), ("sse2", 58), ("lm", 93)):
        assert d["Feature"][n] or name not in info["flags"].split(), name
EOF_PY
}

case_dump_round_trip() {
    # Saved and shown in one run: the APIC ID differs between the processors the tool may run on.
    local format status=0
    for format in syskit raw; do
        expect 0 '' "$syskit" cpu --save-dump saved --save-dump-format "$format" --json
        mv stdout live.json
        expect 0 '' "$syskit" cpu --dump saved --json
        python3 -c 'import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:])
a.pop("clock")
assert a == b, {k: (a[k], b.get(k)) for k in a if a[k] != b.get(k)}' live.json stdout ||
            fail "the $format dump decodes differently"
    done
    "$syskit" cpu --dump - --json <saved | cmp -s - stdout || fail "the dump read from stdin"
    # The report of a dump is the live report without the clock (the last three lines).
    expect 0 '' "$syskit" cpu --save-dump saved
    head -n -3 stdout >live.txt
    expect 0 '' "$syskit" cpu --dump saved
    cmp -s live.txt stdout || fail "reports differ: $(diff live.txt stdout)"
    # "-" writes the dump in place of the report; a dump file is replaced only on success.
    expect 0 '' "$syskit" cpu --save-dump -
    (($(grep -cE '^CPUID [0-9A-F]{8}: ' stdout) >= 13)) || fail "--save-dump -: $(cat stdout)"
    printf 'kept' >kept
    expect 1 "^syskit cpu: cannot write 'no_dir/saved': No such file or directory$" \
        "$syskit" cpu --save-dump no_dir/saved
    "$syskit" cpu --save-dump kept >/dev/full 2>stderr || status=$?
    [[ $status == 1 && $(cat kept) == kept ]] || fail "a report to /dev/full: $status, $(cat kept)"
    grep -q '^syskit cpu: cannot write standard output' stderr || fail "stderr: $(cat stderr)"
    check_files kept live.json live.txt saved stderr stdout
}

case_dump_decoding() {
    p4_dump >p4
    expect 0 '' "$syskit" cpu --dump p4
    local line
    for line in 'vendor: "GenuineIntel" (code 1), manufacturer "Intel"' '  stepping: 9' \
        'name: "Intel(R) Pentium(R) 4 CPU 2.40GHz\0"' 'APIC ID: 0' 'logical processors: 1' \
        '  family: 15 (extended 0) "P4"' '  model: 2 (extended 0) "P4 (0.13 µm)"' \
        'levels: standard 0x02 (2), extended 0x04 (4)' \
        '  brand: 9 "0.13 µm Intel Pentium 4"' 'cache descriptors: 66 5B 50 7A 70' \
        'serial number: status 0 (leaf 3 not available)' \
        'features (leaf 1 ECX): cnxt_id xtpr' 'power management: none'; do has_line "$line"; done
    grep -q '^features (leaf 1 EDX): *fpu vme de pse tsc msr pae mce cx8 apic sep mtrr' stdout ||
        fail "leaf 1 EDX flags: $(grep -A1 'leaf 1 EDX' stdout)"
    grep -Eq 'psn|^clock|^routines' stdout && fail "psn, clock or routines in a dump's report"
    # Register texts with NUL, control and quote characters are escaped in the report only.
    printf 'CPUID 00000000: 00000001-5C1B0041-00000000-22000000\n' >odd_vendor
    expect 0 '' "$syskit" cpu --dump odd_vendor
    has_line 'vendor: "A\0\x1B\\\0\0\0\"\0\0\0\0" (code 0), manufacturer "Unknown"'
    expect 0 '' "$syskit" cpu --dump odd_vendor --json
    python3 -c 'import json, sys; v = json.load(open(sys.argv[1]))["VendorIdStr"]["std"]
assert v == "A\0\x1b\\\0\0\0\"\0\0\0\0", repr(v)' stdout || fail "the vendor text in JSON"
}

case_dump_errors() {
    p4_dump | sed '6s/665B5001/665G5001/' >bad_register
    printf 'no leaves here\nCPUID 00000004: 1-2-3-4\n' >no_leaf
    mkdir a_directory
    local rows=(
        "1|^syskit cpu: cannot read 'missing': No such file or directory$|cpu --dump missing"
        "1|^syskit cpu: cannot read 'a_directory': Is a directory$|cpu --dump a_directory"
        "1|^syskit cpu: bad_register:6: unexpected '665G5001' where register EAX should be |cpu --dump bad_register --json"
        "1|^syskit cpu: no_leaf: no CPUID leaf 0 |cpu --dump no_leaf"
        "1|^syskit cpu: dump '/dev/zero' is larger than 16 MiB$|cpu --dump /dev/zero"
    )
    expect_rows rows
    expect 1 '^syskit cpu: standard input:6: unexpected' "$syskit" cpu --dump - <bad_register
}

case_usage() {
    local rows=(
        "2|^syskit cpu: .*--frobnicate.*\(see 'syskit cpu --help'\)$|cpu --frobnicate"
        "2|^syskit cpu: .*extra|cpu extra"
        "2|^syskit cpu: .*--dump|cpu --dump"
        "2|^syskit cpu: --dump excludes --save-dump|cpu --save-dump y --dump x"
        "2|^syskit cpu: --save-dump - writes the dump in place of.*--json|cpu --save-dump - --json"
        "0||cpu --help"
    )
    expect_rows rows
    for w in --json --dump --save-dump 'Exit status: 0'; do grep -qe "$w" stdout || fail "$w"; done
    check_files stderr stdout
}

"case_$case_name"
