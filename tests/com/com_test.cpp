// syskit.dll from C++ where a late-bound script caller cannot reach (com_check.vbs checks what a
// script reaches): typed variables, arrays with other lower bounds or that cannot be replaced,
// puArgErr, named arguments, no EXCEPINFO, type information, threads, factories, unloading and
// self-registration. The DLL is loaded by path: only registration touches HKEY_CLASSES_ROOT.
#include <windows.h>

#include <olectl.h>
#include <wrl/client.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Microsoft::WRL::ComPtr;
constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// Loaded once and never freed: whether the DLL may be unloaded is its own answer to give.
const HMODULE kDll = [] {
    std::wstring path = L"" SYSKIT_COM_DLL;
    if (path.starts_with(L'/')) path.insert(0, L"Z:");  // a Unix path: Wine's drive Z:
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    return LoadLibraryW(path.c_str());
}();

// The DLL's entry point `f` as the platform headers declare it, through void(*)() (no warning).
#define DLL_ENTRY(f) \
    reinterpret_cast<decltype(f)*>(reinterpret_cast<void (*)()>(GetProcAddress(kDll, #f)))

// An owned VARIANT, cleared when it goes.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    explicit Var(const VARIANT& owned) : VARIANT(owned) {}
    Var(Var&& other) noexcept : VARIANT(other) { VariantInit(&other); }
    ~Var() { VariantClear(this); }
};

// Values to pass, owned until a Var takes them over; each starts the value union, so one fills all.
template <class T>
VARIANT make(VARTYPE type, T value) {
    VARIANT v{};
    V_VT(&v) = type;
    static_assert(sizeof(T) <= sizeof(V_I8(&v)));
    std::memcpy(&V_I8(&v), &value, sizeof(T));
    return v;
}
const auto i4 = [](LONG n) { return make(VT_I4, n); };
const auto str = [](const wchar_t* text) { return make(VT_BSTR, SysAllocString(text)); };
const auto missing = [] { return make(VT_ERROR, DISP_E_PARAMNOTFOUND); };  // a left-out argument
// A reference to the caller's variable of `type` (typed), or to a VARIANT variable.
const auto typed = [](VARTYPE type, void* to) { return make(VARTYPE(VT_BYREF | type), to); };
const auto ref = [](Var& to) { return typed(VT_VARIANT, static_cast<VARIANT*>(&to)); };

// A one-dimensional array from index `lower` whose elements of `type` hold the numbers; VT_VARIANT
// gives what a script's Array(...) is, VARIANTs holding VT_I4.
VARIANT array_of(VARTYPE type, std::initializer_list<LONG> numbers, LONG lower = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(numbers.size()), lower};
    SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
    for (LONG i = lower; const LONG n : numbers) {
        Var element, number(i4(n));
        VariantChangeType(&element, &number, 0, type == VT_VARIANT ? VARTYPE{VT_I4} : type);
        void* value = type == VT_BSTR      ? V_BSTR(&element)
                      : type == VT_VARIANT ? static_cast<void*>(&element)
                      : type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(&element))
                                           : static_cast<void*>(&V_I8(&element));
        SafeArrayPutElement(array, &i, value);
        ++i;
    }
    return make(static_cast<VARTYPE>(VT_ARRAY | type), array);
}

std::wstring text(const VARIANT& v) {
    return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                               : L"<type " + std::to_wstring(V_VT(&v)) + L">";
}

DISPID id_of(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(&name), 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

// Everything one Invoke answered.
struct Outcome {
    HRESULT hr = E_UNEXPECTED;
    Var result;
    UINT arg_error = UINT_MAX;  // as the test left it
};

// Calls `name` with the arguments in the caller's order. With no EXCEPINFO to fill in, the number
// of an error the component raised is the answer.
Outcome invoke(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> arguments) {
    std::vector<Var> args;  // in DISPPARAMS order, last first
    for (auto a = arguments.end(); a != arguments.begin();) args.emplace_back(*--a);
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    Outcome out;
    out.hr = object->Invoke(id_of(object, name), IID_NULL, LOCALE_USER_DEFAULT, kCall, &params,
                            &out.result, nullptr, &out.arg_error);
    return out;
}

struct ServerClass {
    const char* name;
    const wchar_t* prog_id;
    const wchar_t* clsid;
};
const ServerClass kClasses[] = {
    {"CpuInfo", L"Syskit.CpuInfo", L"{0A7711A6-0CE9-449B-9B99-6A36D6939A66}"},
    {"CPUID", L"Syskit.CPUID", L"{613CAB62-489C-49D2-94CC-A0579122445C}"},
    {"RegistryAccess", L"Syskit.RegistryAccess", L"{3C327662-4F29-472E-9938-83450E4A913A}"},
    {"Codec", L"Syskit.Codec", L"{C44813D8-88C7-4E81-B26D-1403BB19268B}"},
};
const wchar_t* const kOtherClass = L"{0B0E0E0F-1111-4222-8333-444455556666}";
const wchar_t* const kTypeLibrary = L"TypeLib\\{FDC5F538-9AEB-42C9-A3BF-F1447DA62E15}";

// DllGetClassObject for the class `clsid` (as text), and an object made by its factory.
template <class T>
HRESULT class_object(const wchar_t* clsid, ComPtr<T>& out, REFIID iid = IID_IClassFactory) {
    CLSID id{};
    CLSIDFromString(clsid, &id);
    return DLL_ENTRY(DllGetClassObject)(id, iid, &out);
}
ComPtr<IDispatch> create(const ServerClass& c) {
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> object;
    if (class_object(c.clsid, factory) == S_OK)
        factory->CreateInstance(nullptr, IID_IDispatch, &object);
    return object;
}

class Com : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_NE(kDll, nullptr) << "cannot load " << SYSKIT_COM_DLL;
        cpu_ = create(kClasses[0]);
        reg_ = create(kClasses[2]);
        codec_ = create(kClasses[3]);
        ASSERT_TRUE(cpu_.Get() != nullptr && reg_.Get() != nullptr && codec_.Get() != nullptr);
    }
    void TearDown() override {
        cpu_ = reg_ = codec_ = nullptr;
        CoUninitialize();
    }

    // An array as the codec reads it: its lower bound and its bytes in Base64 ("1 AQID").
    std::wstring seen(SAFEARRAY* array) {
        LONG lower = 0;
        VARTYPE type = VT_EMPTY;
        SafeArrayGetLBound(array, 1, &lower);
        SafeArrayGetVartype(array, &type);
        const Outcome base64 =
            invoke(codec_.Get(), L"EncodeStr64", {typed(VT_ARRAY | type, &array), i4(60)});
        return std::to_wstring(lower) + L" " + text(base64.result);
    }

    ComPtr<IDispatch> cpu_, reg_, codec_;
};

class EachClass : public Com, public testing::WithParamInterface<ServerClass> {};

// Each factory refuses what it cannot give. Each member the type information names has a help text
// and the DISPID the object answers for its name; DISPIDs run from 1 without a gap, and none other
// answers. ReadString's sDefault there is what the call takes when it is left out (hosts binding
// from type information pass it): the one character NUL, which widl alone writes as "\0".
TEST_P(EachClass, FactoryAndTypeInformationAgreeWithTheObject) {
    ComPtr<IClassFactory> factory;
    ComPtr<IUnknown> none;
    ASSERT_EQ(class_object(GetParam().clsid, factory), S_OK);
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &none), E_NOINTERFACE);
    EXPECT_EQ(class_object(GetParam().clsid, none, IID_IDispatch), E_NOINTERFACE);
    EXPECT_EQ(class_object(kOtherClass, none), CLASS_E_CLASSNOTAVAILABLE);
    const ComPtr<IDispatch> object = create(GetParam());
    ASSERT_NE(object.Get(), nullptr);
    EXPECT_TRUE(object->QueryInterface(IID_IPersist, &none) == E_NOINTERFACE && !none.Get());

    ComPtr<ITypeInfo> info;
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    std::set<MEMBERID> ids;
    for (UINT f = 0; f < attributes->cFuncs; ++f) {
        FUNCDESC* function = nullptr;
        Var name(make(VT_BSTR, BSTR{})), help(make(VT_BSTR, BSTR{}));
        ASSERT_EQ(info->GetFuncDesc(f, &function), S_OK);
        info->GetDocumentation(function->memid, &V_BSTR(&name), &V_BSTR(&help), nullptr, nullptr);
        EXPECT_EQ(id_of(object.Get(), V_BSTR(&name)), function->memid) << text(name);
        EXPECT_NE(text(help), L"") << text(name);
        if (text(name) == L"ReadString") {
            const PARAMDESC* sdefault = &function->lprgelemdescParam[2].paramdesc;
            ASSERT_TRUE(function->cParams == 3 && sdefault->wParamFlags & PARAMFLAG_FHASDEFAULT);
            const Outcome read = invoke(object.Get(), L"ReadString", {str(L"HKCU\\no"), str(L"v")});
            EXPECT_EQ(text(sdefault->pparamdescex->varDefaultValue), text(read.result));
        }
        ids.insert(function->memid);
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
    ASSERT_TRUE(!ids.empty() && *ids.begin() == 1 && *ids.rbegin() == MEMBERID(ids.size()));
    DISPPARAMS no_args{};
    for (const DISPID id : {DISPID(DISPID_VALUE), DISPID(-5), *ids.rbegin() + 1})
        EXPECT_EQ(object->Invoke(id, IID_NULL, 0, kCall, &no_args, nullptr, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
}

INSTANTIATE_TEST_SUITE_P(Server, EachClass, testing::ValuesIn(kClasses),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Com, UnloadsOnlyWhenNoObjectFactoryOrLockIsLeft) {
    const auto can_unload = DLL_ENTRY(DllCanUnloadNow);
    ComPtr<IClassFactory> factory;
    cpu_ = reg_ = nullptr;
    EXPECT_EQ(can_unload(), S_FALSE);  // an object
    codec_ = nullptr;
    EXPECT_EQ(can_unload(), S_OK);
    ASSERT_EQ(class_object(kClasses[3].clsid, factory), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);  // a factory
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory = nullptr;
    EXPECT_EQ(can_unload(), S_FALSE);  // a lock
    ASSERT_EQ(class_object(kClasses[3].clsid, factory), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory = nullptr;
    EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(Com, ArgumentErrorsNamedArgumentsAndNoExceptionInfo) {
    // puArgErr names the argument refused, counted from the last as DISPPARAMS is.
    const Outcome mismatch = invoke(cpu_.Get(), L"HexPad", {str(L"x"), i4(2)});
    const Outcome left_out = invoke(codec_.Get(), L"SetKey", {missing(), str(L"k")});
    EXPECT_EQ(std::tuple(mismatch.hr, mismatch.arg_error, left_out.hr, left_out.arg_error),
              std::tuple(DISP_E_TYPEMISMATCH, 1U, DISP_E_PARAMNOTOPTIONAL, 1U));
    // No member takes named arguments.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"HexPad"), const_cast<LPOLESTR>(L"nWidth")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(cpu_->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
    // With no EXCEPINFO to fill in, a raised error's number is the answer (11 to a script).
    EXPECT_EQ(invoke(codec_.Get(), L"EncodeString", {str(L"x"), str(L""), str(L"")}).hr,
              HRESULT(0x800A000B));
}

// A VARIANT reference to itself ends the call instead of being followed for ever; the calls run on
// a thread of their own so that a hang fails the test instead of stopping the program.
TEST_F(Com, AVariantReferringToItselfDoesNotHang) {
    auto* self = new VARIANT{};  // a call that hangs still uses it, so the thread frees it
    V_VT(self) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(self) = self;
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    std::thread([=, cpu = cpu_] {
        answer->set_value(
            FAILED(invoke(cpu.Get(), L"HexPad", {*self}).hr) &&
            FAILED(invoke(cpu.Get(), L"LevelGet", {i4(0), *self, i4(0), i4(0), i4(0)}).hr));
        delete self;
    }).detach();
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "a hang";
    EXPECT_TRUE(answered.get()) << "a call was not refused";
}

// Typed variables are read as their type and written in it, a VARIANT variable gets the value's
// own type; a trailing optional argument passed "missing" takes its default.
TEST_F(Com, TypedVariablesAreReadAndWrittenInTheirOwnType) {
    LONG number = 171;
    EXPECT_EQ(text(invoke(cpu_.Get(), L"HexPad", {typed(VT_I4, &number), i4(2)}).result), L"AB");
    EXPECT_EQ(text(invoke(cpu_.Get(), L"HexPad", {i4(255), missing()}).result), L"000000FF");

    ASSERT_EQ(invoke(cpu_.Get(), L"LevelSet", {i4(0), i4(2), i4(-5), i4(INT_MIN), i4(7)}).hr, S_OK);
    Var eax(str(L"an earlier value"));
    LONG ebx = 0;
    double ecx = 0;
    CY edx{};
    const Outcome get =
        invoke(cpu_.Get(), L"LevelGet",
               {i4(0), ref(eax), typed(VT_I4, &ebx), typed(VT_R8, &ecx), typed(VT_CY, &edx)});
    EXPECT_EQ(std::tuple(get.hr, V_VT(&eax), V_I4(&eax), ebx, ecx, edx.int64),  // 7 is 7.0000 in CY
              std::tuple(S_OK, VARTYPE{VT_I4}, 2, -5, -2147483648.0, 70000));

    Var hex(str(L"01 02 41"));
    EXPECT_EQ(text(invoke(reg_.Get(), L"StrToBin", {typed(VT_BSTR, &V_BSTR(&hex))}).result),
              L"\1\2A");
    EXPECT_EQ(text(hex), L"010241");
}

// Byte strings are 1-D arrays of any element type that converts to bytes and any lower bound, read
// from their own first element to the last; the in-place coders write the result back with the
// caller's lower bound and element type, into a VARIANT variable or a typed one.
TEST_F(Com, ByteStringsAreReadFromTheirOwnLowerBoundAndKeepIt) {
    const auto coded = [&](const wchar_t* coder, VARIANT variable) {
        EXPECT_EQ(invoke(codec_.Get(), L"SetKey", {str(L"a"), str(L"b")}).hr, S_OK);
        EXPECT_EQ(invoke(codec_.Get(), coder, {variable}).hr, S_OK) << coder;
    };
    Var bytes(array_of(VT_VARIANT, {1, 2, 3, 250}));
    coded(L"EncodeByteArray", ref(bytes));
    const std::wstring enciphered = seen(V_ARRAY(&bytes)).substr(1);  // after the "0"
    for (const LONG lower : {0, 1, -3}) {
        for (const VARTYPE type : {VT_UI1, VT_I2, VT_R8, VT_CY, VT_BSTR, VT_VARIANT, VT_DECIMAL}) {
            SCOPED_TRACE(testing::Message() << "elements of type " << type << " from " << lower);
            for (const bool is_typed : {false, true}) {
                Var held(array_of(type, {1, 2, 3, 250}, lower));
                const VARIANT variable = is_typed ? typed(V_VT(&held), &V_ARRAY(&held)) : ref(held);
                coded(L"EncodeByteArray", variable);
                EXPECT_EQ(seen(V_ARRAY(&held)), std::to_wstring(lower) + enciphered);
                coded(L"DecodeByteArray", variable);
                EXPECT_EQ(seen(V_ARRAY(&held)), std::to_wstring(lower) + L" AQID+g==");
                EXPECT_EQ(V_VT(&held), VT_ARRAY | type);
            }
        }
    }
}

// An array the caller cannot let go of (fixed-size or locked), in a VARIANT variable or a typed
// one, is refused and left as it was.
TEST_F(Com, ArraysThatCannotBeReplacedAreRefusedAndKept) {
    for (const bool locked : {false, true}) {
        Var held(array_of(VT_BSTR, {7}));
        SAFEARRAY* const array = V_ARRAY(&held);
        SAFEARRAY* in_typed = array;
        if (locked) SafeArrayLock(array);
        if (!locked) array->fFeatures |= FADF_FIXEDSIZE;
        for (const VARIANT variable : {ref(held), typed(VT_ARRAY | VT_BSTR, &in_typed)}) {
            const Outcome outcome = invoke(reg_.Get(), L"EnumKeys", {str(L"HKCU"), variable});
            EXPECT_EQ(
                std::tuple(outcome.hr, outcome.arg_error, V_VT(&held), V_ARRAY(&held), in_typed),
                std::tuple(DISP_E_ARRAYISLOCKED, 0U, VARTYPE(VT_ARRAY | VT_BSTR), array, array))
                << locked;
            EXPECT_EQ(seen(array), L"0 Bw==");
        }
        if (locked) SafeArrayUnlock(array);
    }
}

// A text value under HKEY_CLASSES_ROOT; "-" when the key or the value is missing.
std::wstring class_value(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const LSTATUS status =
        RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size);
    return status == ERROR_SUCCESS ? value : L"-";
}
const auto clsid_key = [](const ServerClass& c) { return std::wstring(L"CLSID\\") + c.clsid; };

// The class keys are machine-wide: the test starts without them and leaves none behind, whatever
// the server's own unregistration does.
void forget_classes() {
    for (const auto& c : kClasses) RegDeleteTreeW(HKEY_CLASSES_ROOT, clsid_key(c).c_str());
    for (const auto& c : kClasses) RegDeleteTreeW(HKEY_CLASSES_ROOT, c.prog_id);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kTypeLibrary);
}
using Registration = Com;

TEST_F(Registration, WritesTheClassKeysAndRemovesOnlyItsOwn) {
    forget_classes();
    const std::shared_ptr<void> at_end(nullptr, [](void*) { forget_classes(); });
    std::wstring module(MAX_PATH, L'\0');
    module.resize(GetModuleFileNameW(kDll, module.data(), MAX_PATH));
    ASSERT_EQ(DLL_ENTRY(DllRegisterServer)(), S_OK);
    for (const ServerClass& c : kClasses) {
        EXPECT_EQ(class_value(std::wstring(c.prog_id) + L"\\CLSID"), c.clsid) << c.name;
        EXPECT_EQ(class_value(clsid_key(c) + L"\\InprocServer32"), module) << c.name;
        EXPECT_EQ(class_value(clsid_key(c) + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(class_value(clsid_key(c) + L"\\ProgID"), c.prog_id) << c.name;
    }
    EXPECT_NE(class_value(std::wstring(kTypeLibrary) + L"\\1.0"), L"-");
    ASSERT_EQ(DLL_ENTRY(DllUnregisterServer)(), S_OK);
    for (const auto& c : kClasses)
        EXPECT_EQ(class_value(c.prog_id) + class_value(clsid_key(c)), L"--");
    EXPECT_EQ(class_value(std::wstring(kTypeLibrary) + L"\\1.0"), L"-");

    // Another server has since taken over a ProgID: it stays with that server.
    ASSERT_EQ(DLL_ENTRY(DllRegisterServer)(), S_OK);
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"Syskit.Codec\\CLSID", REG_SZ, kOtherClass, 0),
              ERROR_SUCCESS);
    ASSERT_EQ(DLL_ENTRY(DllUnregisterServer)(), S_OK);
    EXPECT_EQ(class_value(L"Syskit.Codec\\CLSID"), kOtherClass);
    EXPECT_EQ(class_value(clsid_key(kClasses[3])) + class_value(L"Syskit.CpuInfo"), L"--");
}

}  // namespace
