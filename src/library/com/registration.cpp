// DllRegisterServer and DllUnregisterServer: the class keys of the four classes.
//
// For each class the server writes, under HKEY_CLASSES_ROOT,
//   CLSID\{clsid}                  (default) description
//   CLSID\{clsid}\InprocServer32   (default) path of syskit.dll, ThreadingModel "Apartment"
//   CLSID\{clsid}\ProgID           (default) the ProgID
//   <ProgID>                       (default) description
//   <ProgID>\CLSID                 (default) {clsid}
// and unregistration removes exactly those keys: the ProgID key only while it still names this
// server's class, so a ProgID taken over by another server is left to it. The embedded type
// library is registered too (TypeLib\{libid} and the Interface keys of its dispinterfaces) and
// unregistered with the rest. A registration that fails half-way is rolled back.
#include <olectl.h>

#include <string>

#include "library/com/classes.hpp"

namespace syskit::com {

namespace {

std::wstring clsid_text(const CLSID& clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

bool set_default(const std::wstring& key_path, const std::wstring& value,
                 const wchar_t* name = nullptr) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LONG r =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

std::wstring default_value(const std::wstring& key_path) {
    wchar_t value[64] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key_path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void unregister_class(const ServerClass& server_class) {
    const std::wstring clsid = clsid_text(server_class.clsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
    const std::wstring prog_id = server_class.prog_id;
    if (_wcsicmp(default_value(prog_id + L"\\CLSID").c_str(), clsid.c_str()) == 0) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, prog_id.c_str());
    }
}

bool register_class(const ServerClass& server_class, const std::wstring& path) {
    const std::wstring key = L"CLSID\\" + clsid_text(server_class.clsid);
    const std::wstring prog_id = server_class.prog_id;
    return set_default(key, server_class.description) &&
           set_default(key + L"\\InprocServer32", path) &&
           set_default(key + L"\\InprocServer32", L"Apartment", L"ThreadingModel") &&
           set_default(key + L"\\ProgID", prog_id) &&
           set_default(prog_id, server_class.description) &&
           set_default(prog_id + L"\\CLSID", clsid_text(server_class.clsid));
}

}  // namespace
}  // namespace syskit::com

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer();

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    using namespace syskit::com;
    std::wstring path;
    if (!server_path(path)) return SELFREG_E_CLASS;
    for (const auto& server_class : kServerClasses) {
        if (!register_class(server_class, path)) {
            DllUnregisterServer();
            return SELFREG_E_CLASS;
        }
    }
    ITypeLib* library = nullptr;
    if (FAILED(load_type_library(REGKIND_REGISTER, &library))) {
        DllUnregisterServer();
        return SELFREG_E_TYPELIB;
    }
    library->Release();
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    using namespace syskit::com;
    for (const auto& server_class : kServerClasses) unregister_class(server_class);
    UnRegisterTypeLib(kTypeLibraryId, kTypeLibraryMajor, kTypeLibraryMinor, LANG_NEUTRAL,
                      sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    return S_OK;
}
