// What the COM tests need to be a host: syskit.dll loaded by path, owned COM pointers and
// VARIANTs, and one Invoke helper that lays the arguments out as DISPPARAMS does (last argument
// first) and hands back all that Invoke answered.
//
// The arguments stay in the test's hands during and after the call, so a test can look at what
// the server did to them; the EXCEPINFO texts are copied out and their BSTRs freed at once, so no
// test leaks what the server hands over.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace com_test {

constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// The DLL's path as the build gave it: a Unix path when cross-compiled, which Wine reaches
// through drive Z:, or a Windows path written with forward slashes.
inline std::wstring dll_path() {
    const std::string_view path = SYSKIT_COM_DLL;
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    if (!wide.empty() && wide.front() == L'/') wide.insert(0, L"Z:");
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

// Loaded once and never freed: whether the DLL may be unloaded is its own answer to give, and the
// tests ask for it while holding the DLL.
inline HMODULE dll() {
    static const HMODULE module = LoadLibraryW(dll_path().c_str());
    return module;
}

// An entry point declared as `Declared` by the platform headers; null when the DLL lacks it.
template <class Declared>
Declared* entry(const char* name) {
    // Through void(*)(), the one function pointer type every other converts from without warning.
    return reinterpret_cast<Declared*>(reinterpret_cast<void (*)()>(GetProcAddress(dll(), name)));
}
inline HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** object) {
    return entry<decltype(DllGetClassObject)>("DllGetClassObject")(clsid, iid, object);
}
inline HRESULT can_unload_now() {
    return entry<decltype(DllCanUnloadNow)>("DllCanUnloadNow")();
}
inline HRESULT register_server() {
    return entry<decltype(DllRegisterServer)>("DllRegisterServer")();
}
inline HRESULT unregister_server() {
    return entry<decltype(DllUnregisterServer)>("DllUnregisterServer")();
}

// An owned interface pointer.
template <class T>
class Ref {
  public:
    Ref() = default;
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }

    void reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }
    void** put_void() {
        reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    operator T*() const { return pointer_; }  // where the API wants the bare pointer

  private:
    T* pointer_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class Var {
  public:
    Var() { VariantInit(&value_); }
    explicit Var(VARIANT owned) : value_(owned) {}
    Var(Var&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    ~Var() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    const VARIANT* get() const { return &value_; }

  private:
    VARIANT value_;
};

// Values to pass. Each VARIANT owns what it holds until an Args or a Var takes it over. Every
// value lives at the start of the VARIANT's value union, so one template fills them all.
template <class T>
VARIANT make(VARTYPE type, T value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    static_assert(sizeof(T) <= sizeof(V_I8(&v)));
    std::memcpy(&V_I8(&v), &value, sizeof(T));
    return v;
}
inline VARIANT i4(LONG value) {
    return make(VT_I4, value);
}
inline VARIANT r8(double value) {
    return make(VT_R8, value);
}
inline VARIANT boolean(bool value) {
    return make(VT_BOOL, value ? VARIANT_TRUE : VARIANT_FALSE);
}
inline VARIANT str(std::wstring_view text) {
    return make(VT_BSTR, SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}
// An optional argument left out, as callers pass one.
inline VARIANT missing() {
    return make(VT_ERROR, DISP_E_PARAMNOTFOUND);
}
// A reference to the caller's variable of `type`.
inline VARIANT ref(VARTYPE type, void* variable) {
    return make(static_cast<VARTYPE>(VT_BYREF | type), variable);
}
inline VARIANT ref(Var& variable) {
    return ref(VT_VARIANT, variable.get());
}
inline VARIANT copy(const Var& value) {
    VARIANT v = make(VT_EMPTY, 0);
    VariantCopy(&v, const_cast<VARIANT*>(value.get()));
    return v;
}

inline SAFEARRAY* new_array(VARTYPE type, std::size_t count, LONG lower) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), lower};
    return SafeArrayCreate(type, 1, &bound);
}
inline SAFEARRAY* text_array(std::initializer_list<const wchar_t*> texts, LONG lower) {
    SAFEARRAY* array = new_array(VT_BSTR, texts.size(), lower);
    LONG i = lower;
    for (const wchar_t* t : texts) {
        Var text(str(t));
        SafeArrayPutElement(array, &i, V_BSTR(text.get()));  // stores a copy
        ++i;
    }
    return array;
}
// A one-dimensional array from index 0 with elements of `type` holding the numbers; VT_VARIANT
// gives what a script's Array(...) is, VARIANTs holding VT_I4.
inline VARIANT array_of(VARTYPE type, std::initializer_list<LONG> numbers) {
    SAFEARRAY* array = new_array(type, numbers.size(), 0);
    LONG i = 0;
    for (const LONG n : numbers) {
        Var element;
        VARIANT value = i4(n);
        VariantChangeType(element.get(), &value, 0, type == VT_VARIANT ? VARTYPE{VT_I4} : type);
        VARIANT* e = element.get();
        void* address = type == VT_VARIANT   ? static_cast<void*>(e)
                        : type == VT_BSTR    ? static_cast<void*>(V_BSTR(e))
                        : type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(e))
                                             : static_cast<void*>(&V_UI1(e));
        SafeArrayPutElement(array, &i, address);
        ++i;
    }
    return make(static_cast<VARTYPE>(VT_ARRAY | type), array);
}

// Reading what came back.
inline std::wstring text(const VARIANT& v) {
    if (V_VT(&v) != VT_BSTR) return L"<not text: type " + std::to_wstring(V_VT(&v)) + L">";
    return {V_BSTR(&v), SysStringLen(V_BSTR(&v))};
}
inline std::wstring text(const Var& v) {
    return text(*v.get());
}
inline long long number(const Var& v) {
    Var converted;
    if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(v.get()), 0, VT_I4))) {
        return LLONG_MIN;
    }
    return V_I4(converted.get());
}
inline LONG lower_bound(SAFEARRAY* array) {
    LONG lower = LONG_MIN;
    SafeArrayGetLBound(array, 1, &lower);
    return lower;
}
// The elements, each read into a VARIANT of the array's element type.
inline std::vector<Var> elements(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    LONG upper = LONG_MIN;
    SafeArrayGetVartype(array, &type);
    SafeArrayGetUBound(array, 1, &upper);
    std::vector<Var> values;
    for (LONG i = lower_bound(array); i <= upper; ++i) {
        Var& value = values.emplace_back();
        if (type == VT_VARIANT) {
            SafeArrayGetElement(array, &i, value.get());
        } else if (SUCCEEDED(SafeArrayGetElement(array, &i, &V_I8(value.get())))) {
            V_VT(value.get()) = type;
        }
    }
    return values;
}
// Bytes held as VT_UI1, each element of another type read as -1.
inline std::vector<int> byte_elements(SAFEARRAY* array) {
    std::vector<int> bytes;
    for (const Var& e : elements(array)) {
        bytes.push_back(V_VT(e.get()) == VT_UI1 ? V_UI1(e.get()) : -1);
    }
    return bytes;
}
inline std::vector<std::wstring> text_elements(SAFEARRAY* array) {
    std::vector<std::wstring> texts;
    for (const Var& e : elements(array)) texts.push_back(text(e));
    return texts;
}

// Arguments in the caller's order, stored in DISPPARAMS order so that Invoke works on the very
// VARIANTs the test looks at afterwards. Owns them; references point at the test's variables.
class Args {
  public:
    Args(std::initializer_list<VARIANT> values) : values_(std::rbegin(values), std::rend(values)) {}
    explicit Args(std::vector<VARIANT> values) : values_(std::move(values)) {}
    Args(Args&& other) noexcept : values_(std::exchange(other.values_, {})) {}
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    ~Args() {
        for (VARIANT& v : values_) VariantClear(&v);
    }

    VARIANT& operator[](std::size_t i) { return values_[values_.size() - 1 - i]; }
    VARIANT* data() { return values_.data(); }
    UINT count() const { return static_cast<UINT>(values_.size()); }

  private:
    std::vector<VARIANT> values_;
};

// Everything one Invoke answered.
struct Outcome {
    HRESULT hr = E_UNEXPECTED;
    Var result;
    UINT arg_error = UINT_MAX;  // as the test left it
    SCODE scode = 0;
    WORD wcode = 0;
    std::wstring source;
    std::wstring description;
};

// DISPID_UNKNOWN for a name the object rightly reports unknown; -999 for any other failure.
inline DISPID dispid(IDispatch* object, std::wstring name) {
    LPOLESTR names[] = {name.data()};
    DISPID id = 12345;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == S_OK) return id;
    return hr == DISP_E_UNKNOWNNAME && id == DISPID_UNKNOWN ? DISPID_UNKNOWN : -999;
}

// `named` passes the last argument as the named argument with that DISPID.
inline Outcome invoke_id(IDispatch* object, DISPID id, Args& args, WORD flags,
                         bool with_exception = true, std::optional<DISPID> named = {}) {
    DISPID named_id = named.value_or(DISPID_UNKNOWN);
    DISPPARAMS params{args.data(), named ? &named_id : nullptr, args.count(), named ? 1U : 0U};
    EXCEPINFO info{};
    Outcome outcome;
    outcome.hr =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, outcome.result.get(),
                       with_exception ? &info : nullptr, &outcome.arg_error);
    if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
    outcome.scode = info.scode;
    outcome.wcode = info.wCode;
    if (info.bstrSource != nullptr) outcome.source = info.bstrSource;
    if (info.bstrDescription != nullptr) outcome.description = info.bstrDescription;
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return outcome;
}
inline Outcome invoke(IDispatch* object, const wchar_t* name, Args& args, WORD flags = kCall,
                      bool with_exception = true, std::optional<DISPID> named = {}) {
    return invoke_id(object, dispid(object, name), args, flags, with_exception, named);
}
inline Outcome invoke(IDispatch* object, const wchar_t* name, Args&& args, WORD flags = kCall,
                      bool with_exception = true) {
    return invoke(object, name, args, flags, with_exception);
}
// A property assignment, its value passed as DISPID_PROPERTYPUT as every caller passes it.
inline Outcome put(IDispatch* object, const wchar_t* name, VARIANT value) {
    Args args{value};
    return invoke(object, name, args, DISPATCH_PROPERTYPUT, true, DISPID_PROPERTYPUT);
}

}  // namespace com_test
