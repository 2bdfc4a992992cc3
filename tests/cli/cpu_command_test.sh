#!/usr/bin/env bash
# `syskit cpu` run as a user runs it: this processor, captured dumps, and the command line.
#
# The live answers are checked against what the kernel reports in /proc/cpuinfo (read from the same
# registers by other code); dumps are written here by hand, so their answers are known exactly.
#
# Usage: cpu_command_test.sh SYSKIT CASE
# Each CASE is one CTest test (see CMakeLists.txt). Exit status 77 means the case cannot run here.
set -euo pipefail

syskit=$1
case_name=$2

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# has_line FILE LINE: FILE holds LINE exactly, once the padding after its label is squeezed.
has_line() {
    sed -E 's/^([^:]*): +/\1: /' "$1" | grep -qxF -- "$2" || fail "no line '$2' in: $(cat "$1")"
}

# An Intel processor with the P4 signature (family 15, model 2, stepping 9), brand index 9, one
# logical processor, the cache descriptors 66 5B 50 7A 70 and a name padded with spaces and a NUL.
p4_dump() {
    cat <<'EOF'
Captured by hand.
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000F29-00010809-00004400-BFEBFBFF
CPUID 00000002: 665B5001-00000000-00000000-007A7000
CPUID 80000000: 80000004-00000000-00000000-00000000
CPUID 80000001: 00000000-00000000-00000000-00000000
CPUID 80000002: 20202020-20202020-20202020-6E492020
CPUID 80000003: 286C6574-50202952-69746E65-52286D75
CPUID 80000004: 20342029-20555043-30342E32-007A4847
EOF
}

case_report() {
    expect 0 '' "$syskit" cpu
    grep -Eq '^vendor: +"[^"]*" \(code [0-9]+\), manufacturer "[^"]*"$' stdout ||
        fail "no vendor line: $(cat stdout)"
    grep -Eq '^clock: +[0-9.]+ s, [0-9]+ cycles, ' stdout || fail "no clock line"
    grep -Eq '^routines placed: +[0-3] of 3$' stdout || fail "no 'routines placed' line"
    [[ $(tr -d '\000' <stdout | wc -c) == $(wc -c <stdout) ]] || fail "raw NUL in the report"
    local vendor manufacturer
    vendor=$(sed -n 's/^vendor_id[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
    [[ -n $vendor ]] || exit 77
    case $vendor in
        GenuineIntel) manufacturer=Intel ;;
        AuthenticAMD) manufacturer=AMD ;;
        *) manufacturer='[^"]*' ;;
    esac
    grep -Eq "^vendor: +\"$vendor\" \(code [0-9]+\), manufacturer \"$manufacturer\"$" stdout ||
        fail "the kernel says $vendor; the report says $(grep '^vendor:' stdout)"
}

case_json() {
    expect 0 '' "$syskit" cpu --json
    [[ $(tail -c 1 stdout) == '' ]] || fail "no newline at the end"
    # The signature and the basic flags agree with the kernel's view where there is one.
    python3 - stdout /proc/cpuinfo <<'EOF' || fail "JSON check failed"
import json, sys
d = json.load(open(sys.argv[1]))
keys = """LevelsStd LevelsExt Supported Extended Vendor ManufacturerStr NameStr CpuType CpuTypeStr
    SnStatus SnStr ApicID CpuLogicalCount xAddrBitsPhysical xAddrBitsVirtual VendorIdStr CpuFamily
    CpuFamilyEx CpuModel CpuModelEx CpuStepping CpuFamilyStr CpuModelStr CpuBrand CpuBrandStr
    Feature xCache xCacheAssocStr xPowerManagement CacheDescriptors leaves clock""".split()
assert set(d) == set(keys), set(d) ^ set(keys)
assert [type(b) for b in d["Feature"]] == [bool] * 96, d["Feature"]
assert [type(b) for b in d["xPowerManagement"]] == [bool] * 32
assert len(d["xCache"]) == 28 and all(type(n) is int for n in d["xCache"])
assert len(d["leaves"]) == 13 and all(len(r) == 4 and all(0 <= v < 2**32 for v in r)
                                      for r in d["leaves"])
assert set(d["CpuFamily"]) == {"std", "ext"}
assert d["clock"]["seconds"] > 0.1 and d["clock"]["cycles"] >= 0
try:
    info = dict(l.split(":", 1) for l in open(sys.argv[2]).read().split("\n\n")[0].splitlines())
    info = {k.strip(): v.strip() for k, v in info.items()}
except OSError:
    info = {}
if "vendor_id" in info and "cpu family" in info:
    family, ext = d["CpuFamily"]["std"], d["CpuFamilyEx"]["std"]
    family += ext if family == 15 else 0
    model = d["CpuModel"]["std"] + (d["CpuModelEx"]["std"] << 4 if family >= 6 else 0)
    assert d["VendorIdStr"]["std"] == info["vendor_id"]
    assert family == int(info["cpu family"]), info["cpu family"]
    assert model == int(info["model"]) and d["CpuStepping"]["std"] == int(info["stepping"])
    flags = set(info["flags"].split())
    for name, n in (("fpu", 32), ("tsc", 36), ("cx8", 40), ("cmov", 47), ("sse2", 58), ("lm", 93)):
        assert d["Feature"][n] or name not in flags, name
EOF
}

case_dump_round_trip() {
    # Saved and shown in one run: the APIC ID differs between the processors the tool may run on.
    expect 0 '' "$syskit" cpu --save-dump saved --json
    mv stdout live.json
    # Thirteen leaves, and more answers of leaf 2 where this processor must be asked again.
    local lines
    lines=$(grep -cE '^CPUID [0-9A-F]{8}: [0-9A-F]{8}(-[0-9A-F]{8}){3}$' saved)
    ((lines >= 13 && lines == $(wc -l <saved))) || fail "the saved dump: $(cat saved)"
    expect 0 '' "$syskit" cpu --dump saved --json
    python3 -c 'import json, sys
live, dumped = (json.load(open(f)) for f in sys.argv[1:])
del live["clock"]
assert live == dumped, {k: (live[k], dumped.get(k)) for k in live if live[k] != dumped.get(k)}' \
        live.json stdout || fail "the dump decodes differently from the processor"
    "$syskit" cpu --dump - --json <saved | cmp -s - stdout || fail "the dump read from stdin"
    # The report of a dump is the live report without the clock (the last three lines).
    expect 0 '' "$syskit" cpu --save-dump saved
    head -n -3 stdout >live.txt
    expect 0 '' "$syskit" cpu --dump saved
    cmp -s live.txt stdout || fail "reports differ: $(diff live.txt stdout)"
    # "-" writes the dump in place of the report; a dump file is replaced only on success.
    expect 0 '' "$syskit" cpu --save-dump -
    lines=$(grep -cE '^CPUID ' stdout)
    ((lines >= 13 && lines == $(wc -l <stdout))) || fail "--save-dump -"
    printf 'kept' >kept
    expect 2 'excludes' "$syskit" cpu --dump saved --save-dump kept
    expect 1 "^syskit cpu: cannot write 'no_dir/saved': No such file or directory$" \
        "$syskit" cpu --save-dump no_dir/saved
    # A report that cannot be written leaves the dump file as it was.
    local status=0
    "$syskit" cpu --save-dump kept >/dev/full 2>stderr || status=$?
    [[ $status == 1 ]] || fail "a report to /dev/full exited with $status"
    grep -q '^syskit cpu: cannot write standard output' stderr || fail "stderr: $(cat stderr)"
    [[ $(cat kept) == kept ]] || fail "a refused run changed an existing file"
    # The raw format: "CPU 0:" and one lower-case line per answer, read back as the same registers.
    expect 0 '' "$syskit" cpu --save-dump saved.raw --save-dump-format raw --json
    mv stdout live.json
    local raw_line='^   0x[0-9a-f]{8} 0x00: eax=0x[0-9a-f]{8} ebx=0x[0-9a-f]{8} ecx=0x[0-9a-f]{8} edx=0x[0-9a-f]{8}$'
    [[ $(head -n 1 saved.raw) == 'CPU 0:' &&
        $(grep -cE "$raw_line" saved.raw) == $(($(wc -l <saved.raw) - 1)) ]] ||
        fail "the raw dump: $(cat saved.raw)"
    expect 0 '' "$syskit" cpu --dump saved.raw --json
    python3 -c 'import json, sys
live, dumped = (json.load(open(f)) for f in sys.argv[1:])
del live["clock"]
assert live == dumped' live.json stdout || fail "the raw dump decodes differently"
    check_files kept live.json live.txt saved saved.raw stderr stdout
}

case_dump_decoding() {
    p4_dump >p4
    expect 0 '' "$syskit" cpu --dump p4
    local line
    for line in 'vendor: "GenuineIntel" (code 1), manufacturer "Intel"' \
        'name: "Intel(R) Pentium(R) 4 CPU 2.40GHz\0"' \
        'levels: standard 0x02 (2), extended 0x04 (4)' \
        '  family: 15 (extended 0) "P4"' '  model: 2 (extended 0) "P4 (0.13 µm)"' \
        '  stepping: 9' '  brand: 9 "0.13 µm Intel Pentium 4"' \
        'cache descriptors: 66 5B 50 7A 70' 'serial number: status 0 (leaf 3 not available)' \
        'logical processors: 1' 'features (leaf 1 ECX): cnxt_id xtpr' \
        'features (0x80000001 EDX): none' 'power management: none'; do
        has_line stdout "$line"
    done
    grep -q '^features (leaf 1 EDX): *fpu vme de pse tsc msr pae mce cx8 apic sep mtrr' stdout ||
        fail "leaf 1 EDX flags: $(grep -A1 'leaf 1 EDX' stdout)"
    grep -Eq 'psn|^clock|^routines' stdout && fail "psn, clock or routines in a dump's report"
    expect 0 '' "$syskit" cpu --dump p4 --json
    mv stdout p4.json

    # The second format, lower case, with a second processor and a sub-leaf that do not count.
    {
        echo "CPU 0:"
        p4_dump | awk '/^CPUID/ { split($3, r, "-"); printf "   0x%s 0x00: eax=0x%s ebx=0x%s ecx=0x%s edx=0x%s\n", tolower(substr($2, 1, 8)), tolower(r[1]), tolower(r[2]), tolower(r[3]), tolower(r[4]) }'
        echo "   0x00000001 0x01: eax=0x00000f24 ebx=0x00000000 ecx=0x00000000 edx=0x00000000"
        echo "CPU 1:"
        echo "   0x00000001 0x00: eax=0x00000f24 ebx=0x00000000 ecx=0x00000000 edx=0x00000000"
    } >p4_second_form
    expect 0 '' "$syskit" cpu --dump p4_second_form --json
    cmp -s p4.json stdout || fail "the second format decodes differently: $(diff p4.json stdout)"

    # Register texts with NUL, control and quote characters are escaped in the report only.
    printf 'CPUID 00000000: 00000001-5C1B0041-00000000-22000000\n' >odd_vendor
    expect 0 '' "$syskit" cpu --dump odd_vendor
    has_line stdout 'vendor: "A\0\x1B\\\0\0\0\"\0\0\0\0" (code 0), manufacturer "Unknown"'
    [[ $(tr -d '\000\033' <stdout | wc -c) == $(wc -c <stdout) ]] || fail "raw control characters"
    expect 0 '' "$syskit" cpu --dump odd_vendor --json
    python3 -c 'import json, sys; v = json.load(open(sys.argv[1]))["VendorIdStr"]["std"]
assert v == "A\0\x1b\\\0\0\0\"\0\0\0\0", repr(v)' stdout || fail "the vendor text in JSON"
}

case_dump_field_shapes() {
    # The P4 of p4_dump as report tools write it: a report header, processor separators, decoded
    # text in brackets, sub-leaf labels, no colon or a spaced one, registers apart, a tab before an
    # annotation, trailing white space and CR LF. The second processor differs and must not count.
    p4_dump >p4
    expect 0 '' "$syskit" cpu --dump p4 --json
    mv stdout p4.json
    sed 's/\\t/\t/; s/$/ \r/' >field <<'EOF'
------[ Versions ]------
CPUID Revision : 00000F29h
CPUID Manufacturer: GenuineIntel
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
CPUID 80000005: 12345678-12345678-12345678-12345678
EOF
    expect 0 '' "$syskit" cpu --dump field --json
    cmp -s p4.json stdout || fail "the field shapes decode differently: $(diff p4.json stdout)"
}

case_dump_errors() {
    p4_dump | sed '4s/665B5001/665G5001/' >bad_register
    printf 'CPU 0:\n0x00000000 0x00: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4\n0x00000001 0x00: eax=0x1 ebx=2\n' \
        >bad_second_form
    printf 'CPUID 00000000: 00000002-756E6547-6C65746E\n' >missing_register
    printf 'no leaves here\nCPUID 00000004: 1-2-3-4\n' >no_leaf
    : >empty
    mkdir a_directory
    local rows=(
        "^syskit cpu: cannot read 'missing': No such file or directory$|missing"
        "^syskit cpu: cannot read 'a_directory': Is a directory$|a_directory"
        "^syskit cpu: bad_register:4: unexpected '665G5001' where register EAX should be |bad_register"
        "^syskit cpu: bad_second_form:3: .*ebx=2|bad_second_form"
        "^syskit cpu: missing_register:1: unexpected end of line where register EDX |missing_register"
        "^syskit cpu: no_leaf: no CPUID leaf 0 |no_leaf"
        "^syskit cpu: empty: |empty"
        "^syskit cpu: dump '/dev/zero' is larger than 16 MiB$|/dev/zero"
    )
    local row pattern file
    for row in "${rows[@]}"; do
        IFS='|' read -r pattern file <<<"$row"
        expect 1 "$pattern" "$syskit" cpu --dump "$file"
        expect 1 "$pattern" "$syskit" cpu --dump "$file" --json
    done
    expect 1 '^syskit cpu: standard input:4: unexpected' "$syskit" cpu --dump - <bad_register
}

case_usage() {
    local rows=(
        "2|^syskit cpu: .*--frobnicate.*\(see 'syskit cpu --help'\)$|cpu --frobnicate"
        "2|^syskit cpu: .*extra|cpu extra"
        "2|^syskit cpu: .*--dump|cpu --dump"
        "2|^syskit cpu: --dump excludes --save-dump|cpu --dump x --save-dump y"
        "2|^syskit cpu: --dump excludes --save-dump|cpu --save-dump y --dump x"
        "2|^syskit cpu: --save-dump - writes the dump in place of.*--json|cpu --save-dump - --json"
        "0||cpu --help"
    )
    local row status pattern args
    for row in "${rows[@]}"; do
        IFS='|' read -r status pattern args <<<"$row"
        # shellcheck disable=SC2086 # each row is a list of arguments
        expect "$status" "$pattern" "$syskit" $args </dev/null
    done
    local word
    for word in --json --dump --save-dump 'Exit status: 0'; do
        grep -q -- "$word" stdout || fail "cpu --help does not mention $word"
    done
    check_files stderr stdout
}

"case_$case_name"
