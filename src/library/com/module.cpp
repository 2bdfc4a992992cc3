// syskit.dll: the in-process server's entry points and class factories.
//
// Nothing runs when the DLL is loaded except remembering its own module handle (registration
// writes the DLL's path). Every object and class factory handed out counts as alive until its
// last Release; LockServer adds locks. DllCanUnloadNow says yes only when neither is left, so the
// runtime never unloads code that a caller still holds.
#include <new>

#include "library/com/classes.hpp"
#include "library/com/dispatch.hpp"

namespace syskit::com {

HMODULE g_module = nullptr;

const std::array<ServerClass, 4> kServerClasses = {{
    {{0x0a7711a6, 0x0ce9, 0x449b, {0x9b, 0x99, 0x6a, 0x36, 0xd6, 0x93, 0x9a, 0x66}},
     L"Syskit.CpuInfo",
     L"syskit processor information (cCpuInfo)",
     create_cpu_info},
    {{0x613cab62, 0x489c, 0x49d2, {0x94, 0xcc, 0xa0, 0x57, 0x91, 0x22, 0x44, 0x5c}},
     L"Syskit.CPUID",
     L"syskit machine-code runner (cCPUID)",
     create_cpuid},
    {{0x3c327662, 0x4f29, 0x472e, {0x99, 0x38, 0x83, 0x45, 0x0e, 0x4a, 0x91, 0x3a}},
     L"Syskit.RegistryAccess",
     L"syskit registry access (clsRegistryAccess)",
     create_registry_access},
    {{0xc44813d8, 0x88c7, 0x4e81, {0xb2, 0x6d, 0x14, 0x03, 0xbb, 0x19, 0x26, 0x8b}},
     L"Syskit.Codec",
     L"syskit ORBEX text codec",
     create_codec},
}};

const GUID kTypeLibraryId = {
    0xfdc5f538, 0x9aeb, 0x42c9, {0xa3, 0xbf, 0xf1, 0x44, 0x7d, 0xa6, 0x2e, 0x15}};

bool server_path(std::wstring& path) {
    path.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return false;
        if (length < path.size()) {
            path.resize(length);
            return true;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT load_type_library(REGKIND kind, ITypeLib** library) {
    std::wstring path;
    if (!server_path(path)) return HRESULT_FROM_WIN32(GetLastError());
    return LoadTypeLibEx(path.c_str(), kind, library);
}

namespace {

class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(const ServerClass& server_class) : class_(server_class) {
        ++g_live_objects;
    }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IDispatch* created = nullptr;
        try {
            created = class_.create();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        const HRESULT hr = created->QueryInterface(iid, object);
        created->Release();  // the caller's reference, if any, keeps it alive
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_server_locks;
        } else {
            --g_server_locks;
        }
        return S_OK;
    }

  private:
    ~ClassFactory() { --g_live_objects; }

    std::atomic<ULONG> references_{1};
    const ServerClass& class_;
};

}  // namespace
}  // namespace syskit::com

using syskit::com::kServerClasses;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        syskit::com::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (const auto& server_class : kServerClasses) {
        if (!IsEqualCLSID(clsid, server_class.clsid)) continue;
        auto* factory = new (std::nothrow) syskit::com::ClassFactory(server_class);
        if (factory == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(iid, object);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return syskit::com::g_live_objects == 0 && syskit::com::g_server_locks == 0 ? S_OK : S_FALSE;
}
