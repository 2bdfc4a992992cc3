// Uses the installed headers and library: a text survives an encode/decode round trip, the
// processor answers, and the registry store (and so its SQLite dependency) links.
#include <syskit/cpu.hpp>
#include <syskit/orbex.hpp>
#include <syskit/registry.hpp>

#include <cstdio>

int main() {
    const std::string text = "installed package works";
    const std::string printable = syskit::ORBEX::EncodeString(text, "key", "");
    const bool round_trip = syskit::ORBEX::DecodeString(printable, "key", "") == text;
    const syskit::cCpuInfo cpu;
    const bool registry = !syskit::registry::store_directory().empty();
    const bool ok = round_trip && registry && cpu.VendorIdStr().size() >= 12;
    std::puts(ok ? "consumer: round trip, processor and registry ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
