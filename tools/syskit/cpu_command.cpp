// `syskit cpu`: this processor, or registers captured on another machine, as cCpuInfo decodes them.
//
// One cCpuInfo object answers everything. For a dump it is loaded with the captured leaves before
// any question is asked, so the report of a dump is exactly what an object created on that
// processor would say. The stored leaves are taken before CacheDescriptors runs, because that
// operation may query leaf 2 again and replace its record; the dump written by --save-dump and the
// "leaves" of the JSON are therefore the registers every other answer was decoded from.
//
// The readable report is built from constant tables (flag names, cache rows, power-management
// names) walked by loops; the JSON form is keyed by the operations' own names so scripts can rely
// on it. Texts decoded from registers may hold any character, NUL included: the report escapes
// control characters, the JSON keeps them (as \u0000 and the like).
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "atomic_file.hpp"
#include "command.hpp"
#include "diagnostics.hpp"
#include "file_io.hpp"
#include "syskit/cpu.hpp"
#include "syskit/error.hpp"

namespace syskit::cli {
namespace {

using Json = nlohmann::ordered_json;

// A dump holds at most a few hundred lines per logical processor; anything this large is not one.
constexpr std::size_t kMaxDumpSize = std::size_t(16) << 20;
// Long enough for a stable clock rate, short enough not to be noticed.
constexpr std::chrono::milliseconds kClockInterval{200};
constexpr std::size_t kLabelWidth = 28;
constexpr std::size_t kLineWidth = 100;

// The flags come in three registers of 32 bits each; the two EDX registers share many names, so
// each register gets a line of its own.
struct FeatureRegister {
    std::string_view label;
    std::int32_t first;         // the nType of bit 0
    std::string_view reg_name;  // names an unnamed bit: "ecx.16"
};
constexpr std::array<FeatureRegister, 3> kFeatureRegisters = {{
    {"features (leaf 1 ECX)", 0, "ecx"},
    {"features (leaf 1 EDX)", 32, "edx"},
    {"features (0x80000001 EDX)", 64, "edx"},
}};

// The xCache fields of one cache or TLB. TLBs have no lines; -1 marks a field a row lacks.
struct CacheRow {
    std::string_view label;
    std::int32_t count;          // TLB: entries; cache: size in KB
    std::int32_t assoc;          // associativity code
    std::int32_t lines_per_tag;  // caches only
    std::int32_t line_size;      // caches only
};
constexpr std::array<CacheRow, 11> kCacheRows = {{
    {"L1 data TLB (2/4 MB)", 1, 0, -1, -1},
    {"L1 instr. TLB (2/4 MB)", 3, 2, -1, -1},
    {"L1 data TLB (4 KB)", 5, 4, -1, -1},
    {"L1 instr. TLB (4 KB)", 7, 6, -1, -1},
    {"L1 data cache", 8, 9, 10, 11},
    {"L1 instr. cache", 12, 13, 14, 15},
    {"L2 data TLB (2/4 MB)", 17, 16, -1, -1},
    {"L2 instr. TLB (2/4 MB)", 19, 18, -1, -1},
    {"L2 data TLB (4 KB)", 21, 20, -1, -1},
    {"L2 instr. TLB (4 KB)", 23, 22, -1, -1},
    {"L2 cache", 24, 25, 26, 27},
}};

// What SnStatus 0, 1 and 2 mean.
constexpr std::array<std::string_view, 3> kSerialStatus = {"leaf 3 not available", "not reported",
                                                           "reported"};

struct CpuOptions {
    bool json = false;
    std::string dump;
    std::string save_dump;
    CpuDumpFormat save_dump_format = CpuDumpFormat::syskit;
    CLI::Option* dump_option = nullptr;
    CLI::Option* save_dump_option = nullptr;
};

// The measured interval, or why there is none (the library raises when it cannot divide or
// the tick count does not fit).
struct ClockReading {
    double seconds = 0;
    std::int64_t cycles = 0;
    std::string failure;
};

// --- Text for a terminal --------------------------------------------------------------------

// " \"name\"" after a number, or nothing when the operation has no name for it.
std::string named(std::string_view name) {
    return name.empty() ? std::string() : " " + in_quotes(name);
}

void add_line(std::string& out, std::string_view label, std::string_view value) {
    fmt::format_to(std::back_inserter(out), "{:<{}}{}\n", fmt::format("{}:", label), kLabelWidth,
                   value);
}

// A list of words after a label, wrapped at the line width under the first word.
void add_words(std::string& out, std::string_view label, const std::vector<std::string>& words) {
    if (words.empty()) return add_line(out, label, "none");
    std::string line = fmt::format("{:<{}}", fmt::format("{}:", label), kLabelWidth);
    bool line_empty = true;
    for (const std::string& word : words) {
        if (!line_empty && line.size() + 1 + word.size() > kLineWidth) {
            out += line + '\n';
            line.assign(kLabelWidth, ' ');
            line_empty = true;
        }
        if (!line_empty) line += ' ';
        line += word;
        line_empty = false;
    }
    out += line + '\n';
}

// --- The readable report --------------------------------------------------------------------

// The level-2 fields (16 and up) hold the codes xCacheAssocStr names. The level-1 fields hold the
// number of ways itself, which shares only 255 (fully associative) with those codes.
std::string associativity(const cCpuInfo& info, std::int32_t field) {
    const std::int32_t code = info.xCache(field);
    const bool named_code = field >= 16 || code == 255;
    return fmt::format("{}{}", code, named_code ? named(info.xCacheAssocStr(code)) : std::string());
}

void add_signature(std::string& out, const cCpuInfo& info, bool standard) {
    out += standard ? "\nstandard signature (leaf 1)\n" : "\nextended signature (0x80000001)\n";
    add_line(out, "  vendor id", in_quotes(info.VendorIdStr(standard)));
    add_line(out, "  family",
             fmt::format("{} (extended {}){}", info.CpuFamily(standard), info.CpuFamilyEx(standard),
                         named(info.CpuFamilyStr(standard))));
    add_line(out, "  model",
             fmt::format("{} (extended {}){}", info.CpuModel(standard), info.CpuModelEx(standard),
                         named(info.CpuModelStr(standard))));
    add_line(out, "  stepping", fmt::format("{}", info.CpuStepping(standard)));
    add_line(out, "  brand",
             fmt::format("{}{}", info.CpuBrand(standard), named(info.CpuBrandStr(standard))));
}

void add_flags(std::string& out, const cCpuInfo& info) {
    for (const FeatureRegister& reg : kFeatureRegisters) {
        std::vector<std::string> set;
        for (std::int32_t bit = 0; bit < 32; ++bit) {
            if (!info.Feature(reg.first + bit)) continue;
            const std::string_view name = cpu_feature_name(reg.first + bit);
            set.push_back(name.empty() ? fmt::format("{}.{}", reg.reg_name, bit)
                                       : std::string(name));
        }
        add_words(out, reg.label, set);
    }
    std::vector<std::string> power;
    for (std::int32_t bit = 0; bit < 32; ++bit) {
        if (!info.xPowerManagement(bit)) continue;
        const std::string_view name = cpu_power_management_name(bit);
        power.push_back(name.empty() ? fmt::format("bit {}", bit) : std::string(name));
    }
    add_words(out, "power management", power);
}

void add_caches(std::string& out, cCpuInfo& info) {
    std::vector<std::string> descriptors;
    for (const std::uint8_t byte : info.CacheDescriptors()) {
        descriptors.push_back(fmt::format("{:02X}", byte));
    }
    out += '\n';
    add_words(out, "cache descriptors", descriptors);
    for (const CacheRow& row : kCacheRows) {
        const std::string assoc = associativity(info, row.assoc);
        if (row.line_size < 0) {
            add_line(out, row.label,
                     fmt::format("{} entries, associativity {}", info.xCache(row.count), assoc));
        } else {
            add_line(out, row.label,
                     fmt::format("{} KB, associativity {}, {} lines per tag, {}-byte lines",
                                 info.xCache(row.count), assoc, info.xCache(row.lines_per_tag),
                                 info.xCache(row.line_size)));
        }
    }
}

std::string report(cCpuInfo& info, const ClockReading* clock) {
    std::string out;
    add_line(out, "vendor",
             fmt::format("{} (code {}), manufacturer {}", in_quotes(info.VendorIdStr()),
                         info.Vendor(), in_quotes(info.ManufacturerStr())));
    add_line(out, "name", in_quotes(info.NameStr()));
    add_line(
        out, "levels",
        fmt::format("standard 0x{} ({}), extended 0x{} ({})", cCpuInfo::HexPad(info.LevelsStd(), 2),
                    info.LevelsStd(), cCpuInfo::HexPad(info.LevelsExt(), 2), info.LevelsExt()));
    add_line(out, "type", fmt::format("{}{}", info.CpuType(), named(info.CpuTypeStr())));
    add_signature(out, info, true);
    add_signature(out, info, false);
    out += '\n';
    add_flags(out, info);
    add_caches(out, info);

    out += '\n';
    add_line(
        out, "address bits",
        fmt::format("physical {}, virtual {}", info.xAddrBitsPhysical(), info.xAddrBitsVirtual()));
    const std::int32_t serial_status = info.SnStatus();
    add_line(out, "serial number",
             fmt::format("status {} ({}){}", serial_status,
                         serial_status >= 0 && std::size_t(serial_status) < kSerialStatus.size()
                             ? kSerialStatus[std::size_t(serial_status)]
                             : "?",
                         named(info.SnStr())));
    add_line(out, "APIC ID", fmt::format("{}", info.ApicID()));
    const std::optional<std::int32_t> logical = info.CpuLogicalCount();
    add_line(out, "logical processors", logical ? fmt::format("{}", *logical) : "none");

    if (clock != nullptr) {
        out += '\n';
        if (!clock->failure.empty()) {
            add_line(out, "clock", fmt::format("not measured: {}", clock->failure));
        } else {
            const std::string rate =
                clock->seconds > 0
                    ? fmt::format("{:.1f} MHz", double(clock->cycles) / clock->seconds / 1e6)
                    : std::string("rate unknown");
            add_line(out, "clock",
                     fmt::format("{:.6f} s, {} cycles, {}", clock->seconds, clock->cycles, rate));
        }
        add_line(out, "routines placed", fmt::format("{} of 3", info.Runner().PlacedCount()));
    }
    return out;
}

// --- The JSON form --------------------------------------------------------------------------

template <typename Operation>
Json both_signatures(Operation operation) {
    return Json{{"std", operation(true)}, {"ext", operation(false)}};
}

std::string json_text(cCpuInfo& info, const CpuLeaves& leaves, const ClockReading* clock) {
    Json out;
    out["LevelsStd"] = info.LevelsStd();
    out["LevelsExt"] = info.LevelsExt();
    out["Supported"] = info.Supported();
    out["Extended"] = info.Extended();
    out["Vendor"] = info.Vendor();
    out["ManufacturerStr"] = info.ManufacturerStr();
    out["NameStr"] = info.NameStr();
    out["CpuType"] = info.CpuType();
    out["CpuTypeStr"] = info.CpuTypeStr();
    out["SnStatus"] = info.SnStatus();
    out["SnStr"] = info.SnStr();
    out["ApicID"] = info.ApicID();
    const std::optional<std::int32_t> logical = info.CpuLogicalCount();
    out["CpuLogicalCount"] = logical ? Json(*logical) : Json(nullptr);
    out["xAddrBitsPhysical"] = info.xAddrBitsPhysical();
    out["xAddrBitsVirtual"] = info.xAddrBitsVirtual();

    out["VendorIdStr"] = both_signatures([&](bool s) { return info.VendorIdStr(s); });
    out["CpuFamily"] = both_signatures([&](bool s) { return info.CpuFamily(s); });
    out["CpuFamilyEx"] = both_signatures([&](bool s) { return info.CpuFamilyEx(s); });
    out["CpuModel"] = both_signatures([&](bool s) { return info.CpuModel(s); });
    out["CpuModelEx"] = both_signatures([&](bool s) { return info.CpuModelEx(s); });
    out["CpuStepping"] = both_signatures([&](bool s) { return info.CpuStepping(s); });
    out["CpuFamilyStr"] = both_signatures([&](bool s) { return info.CpuFamilyStr(s); });
    out["CpuModelStr"] = both_signatures([&](bool s) { return info.CpuModelStr(s); });
    out["CpuBrand"] = both_signatures([&](bool s) { return info.CpuBrand(s); });
    out["CpuBrandStr"] = both_signatures([&](bool s) { return info.CpuBrandStr(s); });

    Json& features = out["Feature"] = Json::array();
    for (std::int32_t n = 0; n < 96; ++n) features.push_back(info.Feature(n));
    Json& cache = out["xCache"] = Json::array();
    for (std::int32_t field = 0; field < 28; ++field) cache.push_back(info.xCache(field));
    Json& assoc_names = out["xCacheAssocStr"] = Json::object();
    for (std::int32_t code = 0; code < 256; ++code) {
        if (std::string name = info.xCacheAssocStr(code); !name.empty()) {
            assoc_names[std::to_string(code)] = std::move(name);
        }
    }
    Json& power = out["xPowerManagement"] = Json::array();
    for (std::int32_t bit = 0; bit < 32; ++bit) power.push_back(info.xPowerManagement(bit));
    out["CacheDescriptors"] = info.CacheDescriptors();
    out["leaves"] = leaves;
    if (clock != nullptr) {
        out["clock"] = clock->failure.empty()
                           ? Json{{"seconds", clock->seconds}, {"cycles", clock->cycles}}
                           : Json(nullptr);
    }
    return out.dump(2) + '\n';
}

// --- Running the command --------------------------------------------------------------------

ClockReading measure_clock(cCpuInfo& info) {
    ClockReading reading;
    info.BenchStart();
    std::this_thread::sleep_for(kClockInterval);
    Currency cycles;
    try {
        info.BenchStop(reading.seconds, cycles);
        // The difference of two raw readings times 10 000: the stored integer over the scale is
        // the exact tick count.
        reading.cycles = cycles.raw() / Currency::kScale;
    } catch (const Error& error) {
        reading.failure = error.description();
    }
    return reading;
}

CpuDump read_dump(const std::string& path) {
    const std::string text = read_input(path, kMaxDumpSize);
    if (text.size() > kMaxDumpSize) {
        throw Failure(kExitFailed, fmt::format("dump {} is larger than 16 MiB", input_name(path)));
    }
    try {
        return parse_cpu_dump(text, path == kStandardStream ? "standard input" : path);
    } catch (const CpuDumpError& error) {
        // The message names the file as the user gave it, which can hold any byte.
        throw Failure(kExitFailed, terminal_text(error.what()));
    }
}

int run(const CpuOptions& options) {
    const bool save_to_stdout =
        options.save_dump_option->count() > 0 && options.save_dump == kStandardStream;
    if (save_to_stdout && options.json) {
        throw usage_failure("--save-dump - writes the dump in place of the output of --json");
    }

    if (options.dump_option->count() > 0) {
        const CpuDump dump = read_dump(options.dump);
        cCpuInfo info;
        load_cpu_dump(info, dump);
        write_stdout(options.json ? json_text(info, dump.leaves, nullptr) : report(info, nullptr));
        return kExitOk;
    }

    // The file is made at once, so an unwritable one fails before the work, and replaced only
    // once the report is out: a command that fails leaves it as it was.
    std::optional<AtomicOutputFile> file;
    if (options.save_dump_option->count() > 0 && !save_to_stdout) file.emplace(options.save_dump);
    cCpuInfo info;
    const CpuDump dump = capture_cpu_dump(info);
    if (save_to_stdout) {
        write_stdout(format_cpu_dump(dump, options.save_dump_format));
        return kExitOk;
    }
    const ClockReading clock = measure_clock(info);
    write_stdout(options.json ? json_text(info, dump.leaves, &clock) : report(info, &clock));
    if (file) {
        file->write(format_cpu_dump(dump, options.save_dump_format));
        file->commit();
    }
    return kExitOk;
}

}  // namespace

void add_cpu_commands(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<CpuOptions>();
    CLI::App* command = app.add_subcommand(
        "cpu",
        "Identify this processor: vendor, signature and names, feature flags, caches, address "
        "sizes and a measured clock rate; or decode registers captured elsewhere");
    command->add_flag("--json", options->json,
                      "Print one JSON object keyed by the operations' names instead of the report");
    options->dump_option =
        command
            ->add_option(
                "--dump", options->dump,
                "Decode the registers captured in FILE ('-': standard input, at most 16 "
                "MiB) instead of this processor's: the first logical processor's lines "
                "'CPUID 00000001: EAX-EBX-ECX-EDX' (with or without the colon, with dashes "
                "or spaces, annotations after EDX) or '0x00000001 0x00: eax=0x... "
                "ebx=0x... ecx=0x... edx=0x...'. No clock is measured")
            ->type_name("FILE");
    options->save_dump_option =
        command
            ->add_option("--save-dump", options->save_dump,
                         "Also write this processor's registers to FILE (see --save-dump-format), "
                         "and print the report (or JSON) as usual. FILE is replaced only when the "
                         "whole command succeeds; '-' writes the dump to standard output in place "
                         "of the report")
            ->type_name("FILE");
    CLI::Option* format_option =
        command
            ->add_option(
                "--save-dump-format", options->save_dump_format,
                "The line format of --save-dump: syskit (default; 'CPUID 00000001: "
                "EAX-EBX-ECX-EDX') or raw ('0x00000001 0x00: eax=0x... ebx=0x... ecx=0x... "
                "edx=0x...' under 'CPU 0:', as other CPUID tools write and read it)")
            ->transform(CLI::CheckedTransformer(std::map<std::string, CpuDumpFormat>{
                {"syskit", CpuDumpFormat::syskit}, {"raw", CpuDumpFormat::raw}}))
            ->type_name("FORMAT");
    format_option->needs(options->save_dump_option);
    options->dump_option->excludes(options->save_dump_option);
    command->footer(
        "Exit status: 0 done, 1 the dump cannot be read or is malformed, or an output cannot be "
        "written, 2 usage error.");

    commands.push_back({command, [options] { return run(*options); }});
}

}  // namespace syskit::cli
