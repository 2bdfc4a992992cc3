// Uses the installed headers and library: a text survives an encode/decode round trip.
#include <syskit/orbex.hpp>

#include <cstdio>

int main() {
    const std::string text = "installed package works";
    const std::string printable = syskit::ORBEX::EncodeString(text, "key", "");
    const bool ok = syskit::ORBEX::DecodeString(printable, "key", "") == text;
    std::puts(ok ? "consumer: round trip ok" : "consumer: round trip FAILED");
    return ok ? 0 : 1;
}
