// The reader of the Windows registry editor's .reg files on arbitrary bytes: any input is read or
// refused with a reason and a line of the file, never a crash, a hang or a sanitizer report. What
// it reads, written again as the editor writes it, reads back to the same keys and values (a
// text written as "text" comes back with one terminating NUL; deletions are left out).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_file_format.hpp"
#include "syskit/registry.hpp"

namespace {

using syskit::registry::detail::RegFileChange;
using syskit::registry::detail::RegFileError;
using syskit::registry::detail::RegFileWriter;
using Kind = RegFileChange::Kind;

void check(bool holds) {
    if (!holds) std::abort();
}

// The keys and values of the changes, as a second reading must give them.
std::vector<RegFileChange> kept(const std::vector<RegFileChange>& changes) {
    std::vector<RegFileChange> out;
    for (RegFileChange change : changes) {
        if (change.kind == Kind::delete_key || change.kind == Kind::delete_value) continue;
        if (change.kind == Kind::set_value && change.type == 1) {
            std::string text = change.data;
            if (!text.empty() && text.back() == '\0') text.pop_back();
            if (text.find('\0') == std::string::npos) change.data = text + '\0';
        }
        out.push_back(std::move(change));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<RegFileChange> changes;
    RegFileError error;
    if (!syskit::registry::detail::read_reg_file(bytes, changes, error)) {
        check(error.line >= 1 && error.line <= size + 1 && !error.what.empty());
        return 0;
    }

    const RegFileWriter writer;
    std::u16string text;
    writer.append_header(text);
    for (const RegFileChange& change : kept(changes)) {
        if (change.kind == Kind::open_key) {
            std::string path(syskit::registry::hive_of(change.root)->long_name);
            if (!change.subkey.empty()) path += "\\" + change.subkey;
            writer.append_key(text, path);
        } else {
            writer.append_value(text, change.name, change.type, change.data);
        }
    }
    std::string written = "\xFF\xFE";
    for (const char16_t c : text.substr(1)) {
        written += static_cast<char>(c & 0xFF);
        written += static_cast<char>(c >> 8);
    }
    std::vector<RegFileChange> again;
    check(syskit::registry::detail::read_reg_file(written, again, error));
    const std::vector<RegFileChange> expected = kept(changes);
    check(again.size() == expected.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        check(again[i].kind == expected[i].kind && again[i].root == expected[i].root &&
              again[i].subkey == expected[i].subkey && again[i].name == expected[i].name &&
              again[i].type == expected[i].type && again[i].data == expected[i].data);
    }
    return 0;
}
