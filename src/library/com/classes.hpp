// The server's creatable classes: each wraps one component object (or, for the codec, the
// calling thread's codec state) behind the table-driven IDispatch.
#pragma once

#include <windows.h>

#include <array>
#include <string>

namespace syskit::com {

struct ServerClass {
    CLSID clsid;
    const wchar_t* prog_id;      // "Syskit.CpuInfo"
    const wchar_t* description;  // the CLSID key's and ProgID key's default value
    // A new object with one reference; throws when the component cannot be created.
    IDispatch* (*create)();
};

IDispatch* create_cpu_info();
IDispatch* create_cpuid();
IDispatch* create_registry_access();
IDispatch* create_codec();

extern const std::array<ServerClass, 4> kServerClasses;

// The type library embedded in syskit.dll (resource TYPELIB 1, built from syskit.idl).
extern const GUID kTypeLibraryId;
inline constexpr WORD kTypeLibraryMajor = 1;
inline constexpr WORD kTypeLibraryMinor = 0;

// The full path of syskit.dll; false when the system cannot tell.
bool server_path(std::wstring& path);

// Loads the embedded type library, registering it when `kind` is REGKIND_REGISTER.
HRESULT load_type_library(REGKIND kind, ITypeLib** library);

}  // namespace syskit::com
