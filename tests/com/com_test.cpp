// syskit.dll at the COM level, as a C++ host or a VB6-style caller drives it: the class factory and
// the unload count, name lookup, Invoke's answers to calls it cannot make, argument conversion,
// by-reference outputs into every kind of variable, returned arrays, EXCEPINFO, self-registration.
//
// The VBScript check covers what a script can see. A script cannot pass typed references, fixed-
// size or locked arrays, named arguments or a null EXCEPINFO, nor read puArgErr; those are here.
// The DLL is loaded by path and its entry points called directly, so nothing needs registering;
// only the registration case touches HKEY_CLASSES_ROOT, and CTest keeps it apart from the VBScript
// check, which registers the same classes.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "com_helpers.hpp"

namespace com_test {
namespace {

struct ServerClass {
    const char* name;
    const wchar_t* prog_id;
    const wchar_t* clsid;
    const wchar_t* own_member;  // a member no other class has
};

const ServerClass kClasses[] = {
    {"CpuInfo", L"Syskit.CpuInfo", L"{0A7711A6-0CE9-449B-9B99-6A36D6939A66}", L"CacheDescriptors"},
    {"CPUID", L"Syskit.CPUID", L"{613CAB62-489C-49D2-94CC-A0579122445C}", L"ShiftRight"},
    {"RegistryAccess", L"Syskit.RegistryAccess", L"{3C327662-4F29-472E-9938-83450E4A913A}",
     L"EnumKeys"},
    {"Codec", L"Syskit.Codec", L"{C44813D8-88C7-4E81-B26D-1403BB19268B}", L"EncodeString"},
};

CLSID clsid_of(const wchar_t* text) {
    CLSID clsid{};
    CLSIDFromString(text, &clsid);
    return clsid;
}
const CLSID kCpuInfo = clsid_of(kClasses[0].clsid);
const CLSID kRegistryAccess = clsid_of(kClasses[2].clsid);
const CLSID kCodec = clsid_of(kClasses[3].clsid);
const wchar_t* const kOtherClass = L"{0B0E0E0F-1111-4222-8333-444455556666}";

Ref<IDispatch> create(const CLSID& clsid) {
    Ref<IClassFactory> factory;
    Ref<IDispatch> object;
    if (get_class_object(clsid, IID_IClassFactory, factory.put_void()) == S_OK) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    }
    EXPECT_NE(object.get(), nullptr);
    return object;
}

class Com : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        initialized_ = true;
        ASSERT_NE(dll(), nullptr) << "cannot load " << dll_path();
        for (const char* name :
             {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"}) {
            ASSERT_NE(GetProcAddress(dll(), name), nullptr) << name;
        }
    }
    void TearDown() override {
        if (initialized_) CoUninitialize();
    }

  private:
    bool initialized_ = false;
};

// Asks for something that must be refused, and checks that the out pointer comes back null.
template <class Ask>
void expect_refused(HRESULT expected, Ask ask) {
    void* out = &out;
    EXPECT_EQ(ask(&out), expected);
    EXPECT_EQ(out, nullptr);
}

// --- The class factory and the unload count ------------------------------------------------------

class EachClass : public Com, public testing::WithParamInterface<ServerClass> {};

TEST_P(EachClass, FactoryMakesThatClassAndRefusesWhatItCannotGive) {
    const ServerClass& c = GetParam();
    const CLSID clsid = clsid_of(c.clsid);
    Ref<IClassFactory> factory;
    ASSERT_EQ(get_class_object(clsid, IID_IClassFactory, factory.put_void()), S_OK);
    Ref<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    for (const ServerClass& other : kClasses) {
        EXPECT_EQ(dispid(object, other.own_member) != DISPID_UNKNOWN, other.prog_id == c.prog_id)
            << other.name;
    }
    expect_refused(CLASS_E_NOAGGREGATION,
                   [&](void** out) { return factory->CreateInstance(factory, IID_IUnknown, out); });
    expect_refused(E_NOINTERFACE,
                   [&](void** out) { return factory->CreateInstance(nullptr, IID_IPersist, out); });
    expect_refused(E_NOINTERFACE,
                   [&](void** out) { return object->QueryInterface(IID_IPersist, out); });
    expect_refused(E_NOINTERFACE,
                   [&](void** out) { return get_class_object(clsid, IID_IDispatch, out); });
    expect_refused(CLASS_E_CLASSNOTAVAILABLE, [&](void** out) {
        return get_class_object(clsid_of(kOtherClass), IID_IClassFactory, out);
    });
}

Ref<ITypeInfo> type_info(IDispatch* object) {
    Ref<ITypeInfo> info;
    EXPECT_EQ(
        object->GetTypeInfo(0, LOCALE_USER_DEFAULT, reinterpret_cast<ITypeInfo**>(info.put_void())),
        S_OK);
    return info;
}

WORD function_count(ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return 0;
    const WORD functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    return functions;
}

// The type library and the member table must agree: every member the type information names has
// the DISPID the object answers for it and a help text, every DISPID up to the highest is named,
// and the object has no member beyond them.
TEST_P(EachClass, TypeInformationDescribesEveryMemberWithItsDispatchId) {
    Ref<IDispatch> object = create(clsid_of(GetParam().clsid));
    UINT count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    ASSERT_EQ(count, 1U);
    const Ref<ITypeInfo> info = type_info(object);
    ASSERT_NE(info.get(), nullptr);
    const WORD functions = function_count(info);
    ASSERT_GT(functions, 0);
    MEMBERID highest = 0;
    std::set<MEMBERID> named;
    for (UINT f = 0; f < functions; ++f) {
        FUNCDESC* function = nullptr;
        ASSERT_EQ(info->GetFuncDesc(f, &function), S_OK);
        const MEMBERID id = function->memid;
        info->ReleaseFuncDesc(function);
        BSTR name = nullptr;
        BSTR help = nullptr;
        ASSERT_EQ(info->GetDocumentation(id, &name, &help, nullptr, nullptr), S_OK);
        const std::wstring member(name, SysStringLen(name));
        const bool has_help = SysStringLen(help) > 0;
        SysFreeString(name);
        SysFreeString(help);
        const std::string where = std::string(GetParam().name) + " member " + std::to_string(id);
        EXPECT_EQ(dispid(object, member), id) << where;
        EXPECT_TRUE(has_help) << where;
        highest = std::max(highest, id);
        named.insert(id);
    }
    EXPECT_EQ(named.size(), static_cast<std::size_t>(highest));
    Args none{};
    EXPECT_EQ(invoke_id(object, highest + 1, none, kCall).hr, DISP_E_MEMBERNOTFOUND);
}

INSTANTIATE_TEST_SUITE_P(ClassFactory, EachClass, testing::ValuesIn(kClasses),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Com, UnloadsOnlyWhenNoObjectFactoryOrLockIsLeft) {
    ASSERT_EQ(can_unload_now(), S_OK) << "an earlier test left something alive";
    Ref<IClassFactory> factory;
    ASSERT_EQ(get_class_object(kCodec, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(can_unload_now(), S_FALSE);
    Ref<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now(), S_FALSE);
    object.reset();
    EXPECT_EQ(can_unload_now(), S_OK);

    ASSERT_EQ(get_class_object(kCodec, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now(), S_FALSE);
    ASSERT_EQ(get_class_object(kCodec, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload_now(), S_FALSE);
    factory.reset();
    EXPECT_EQ(can_unload_now(), S_OK);
}

// --- Names, and calls Invoke cannot make ---------------------------------------------------------

TEST_F(Com, NamesAreFoundInAnyLetterCaseAndOnlyWhole) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    const DISPID id = dispid(cpu, L"HexPad");
    ASSERT_GT(id, 0);
    for (const wchar_t* name : {L"hexpad", L"HEXPAD", L"hEXpAD"}) {
        EXPECT_EQ(dispid(cpu, name), id) << name;
    }
    EXPECT_EQ(text(invoke(cpu, L"hexpad", {i4(255)}).result), L"000000FF");
    for (const wchar_t* name : {L"HexPa", L"HexPads", L"", L"Hex Pad"}) {
        EXPECT_EQ(dispid(cpu, name), DISPID_UNKNOWN) << name;
    }
    // No member has named arguments.
    wchar_t member[] = L"HexPad";
    wchar_t argument[] = L"nWidth";
    LPOLESTR names[] = {member, argument};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(cpu->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], id);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(Com, InvokeRefusesUnknownMembersAndWrongArgumentCounts) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    for (const DISPID id : {DISPID(DISPID_VALUE), DISPID(-5), DISPID(1000)}) {
        Args none{};
        EXPECT_EQ(invoke_id(cpu, id, none, kCall).hr, DISP_E_MEMBERNOTFOUND) << id;
    }
    EXPECT_EQ(put(cpu, L"HexPad", i4(1)).hr, DISP_E_MEMBERNOTFOUND);  // a method, not a property
    const std::pair<const wchar_t*, std::size_t> wrong_counts[] = {
        {L"HexPad", 0}, {L"HexPad", 3}, {L"LevelGet", 4}, {L"LevelGet", 6}, {L"ApicID", 1}};
    for (const auto& [member, count] : wrong_counts) {
        Args args(std::vector<VARIANT>(count, i4(0)));
        EXPECT_EQ(invoke(cpu, member, args).hr, DISP_E_BADPARAMCOUNT) << member << count;
    }
}

TEST_F(Com, NamedArgumentsAreRefusedExceptAnAssignedValue) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    const Ref<IDispatch> codec = create(kCodec);
    ASSERT_EQ(put(codec, L"LastErrorCode", i4(3)).hr, S_OK);
    Args width{i4(255), i4(4)};
    EXPECT_EQ(invoke(cpu, L"HexPad", width, kCall, true, 0).hr, DISP_E_NONAMEDARGS);
    Args named_otherwise{i4(5)};
    EXPECT_TRUE(
        FAILED(invoke(codec, L"LastErrorCode", named_otherwise, DISPATCH_PROPERTYPUT, true, 0).hr));
    EXPECT_TRUE(FAILED(invoke(codec, L"LastErrorCode", {i4(5)}, DISPATCH_PROPERTYPUT).hr));
    EXPECT_EQ(number(invoke(codec, L"LastErrorCode", {}).result), 3);
}

// A VARIANT reference may not point at another one; one that points at itself must end the call,
// not be followed for ever. The calls run on a thread of their own so that a hang fails the test
// instead of stopping the program. Documents a fault: the argument reader and the output writer
// both follow such chains without end.
TEST_F(Com, AVariantReferringToItselfDoesNotHang) {
    auto* self = new VARIANT;  // a call that hangs still uses it, so the call frees it
    V_VT(self) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(self) = self;
    const Ref<IDispatch> object = create(kCpuInfo);
    IDispatch* cpu = object;
    cpu->AddRef();  // the thread's reference
    auto answers = std::make_shared<std::promise<std::pair<HRESULT, HRESULT>>>();
    std::future<std::pair<HRESULT, HRESULT>> answered = answers->get_future();
    std::thread([=] {
        const HRESULT read = invoke(cpu, L"HexPad", {*self}).hr;
        const HRESULT written = invoke(cpu, L"LevelGet", {i4(0), *self, i4(0), i4(0), i4(0)}).hr;
        answers->set_value({read, written});
        cpu->Release();
        delete self;
    }).detach();
    ASSERT_TRUE(answered.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        << "Invoke did not return";
    const auto [read, written] = answered.get();
    EXPECT_TRUE(FAILED(read));
    EXPECT_TRUE(FAILED(written));
}

// --- Argument conversion -------------------------------------------------------------------------

// A call refused because of argument `arg_error`, counted as DISPPARAMS counts (from the last).
void expect_bad_argument(IDispatch* object, const wchar_t* member, Args args, HRESULT hr,
                         UINT arg_error, WORD flags = kCall) {
    const std::optional<DISPID> named =
        flags == DISPATCH_PROPERTYPUT ? std::optional<DISPID>(DISPID_PROPERTYPUT) : std::nullopt;
    const Outcome outcome = invoke(object, member, args, flags, true, named);
    EXPECT_EQ(outcome.hr, hr) << member;
    EXPECT_EQ(outcome.arg_error, arg_error) << member;
}

TEST_F(Com, ArgumentsThatDoNotConvertAreNamed) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    const Ref<IDispatch> codec = create(kCodec);
    expect_bad_argument(codec, L"LastErrorCode", {i4(70000)}, DISP_E_OVERFLOW, 0,
                        DISPATCH_PROPERTYPUT);
    expect_bad_argument(codec, L"EncodeStr64", {array_of(VT_VARIANT, {1, 2}), i4(70000)},
                        DISP_E_OVERFLOW, 0);
    expect_bad_argument(codec, L"EncodeStr64", {array_of(VT_VARIANT, {1, 300}), i4(60)},
                        DISP_E_OVERFLOW, 1);
    expect_bad_argument(cpu, L"HexPad", {str(L"ten")}, DISP_E_TYPEMISMATCH, 0);
    expect_bad_argument(cpu, L"HexPad", {str(L"x"), i4(2)}, DISP_E_TYPEMISMATCH, 1);
    expect_bad_argument(cpu, L"HexPad", {missing()}, DISP_E_PARAMNOTOPTIONAL, 0);
    expect_bad_argument(codec, L"EncodeString", {str(L"x"), missing(), str(L"k")},
                        DISP_E_PARAMNOTOPTIONAL, 1);
}

TEST_F(Com, ArgumentsConvertAndOptionalOnesTakeTheirDefaults) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    LONG variable = 171;
    struct {
        Args args;
        const wchar_t* expected;
    } hex_pads[] = {
        {{i4(255)}, L"000000FF"},
        {{i4(255), missing()}, L"000000FF"},
        {{str(L"255"), str(L"4")}, L"00FF"},
        {{r8(2.5), i4(2)}, L"02"},  // rounded to even, as the platform converts
        {{ref(VT_I4, &variable), i4(2)}, L"AB"},
    };
    for (auto& [args, expected] : hex_pads) {
        EXPECT_EQ(text(invoke(cpu, L"HexPad", args).result), expected);
    }
    const Ref<IDispatch> codec = create(kCodec);
    ASSERT_EQ(put(codec, L"LastErrorCode", str(L"5")).hr, S_OK);
    const Outcome code = invoke(codec, L"LastErrorCode", {});
    EXPECT_EQ(V_VT(code.result.get()), VT_I2);
    EXPECT_EQ(number(code.result), 5);

    const Ref<IDispatch> reg = create(kRegistryAccess);
    const std::wstring nowhere = L"HKCU\\Software\\syskit-com-test-no-such-key";
    EXPECT_EQ(number(invoke(reg, L"ReadDWORD", {str(nowhere), str(L"v")}).result), -1);
    EXPECT_EQ(number(invoke(reg, L"ReadDWORD", {str(nowhere), str(L"v"), missing()}).result), -1);
    EXPECT_EQ(number(invoke(reg, L"ReadDWORD", {str(nowhere), str(L"v"), i4(7)}).result), 7);
}

// Hosts that bind arguments from type information pass a parameter's default from the type
// library themselves, so ReadString's must be the very text the call uses when sDefault is left
// out: the one character NUL, which widl alone writes as a backslash and a zero.
TEST_F(Com, ReadStringsTypeLibraryDefaultIsTheTextUsedWhenLeftOut) {
    const Ref<IDispatch> reg = create(kRegistryAccess);
    const Ref<ITypeInfo> info = type_info(reg);
    ASSERT_NE(info.get(), nullptr);
    const DISPID read_string = dispid(reg, L"ReadString");
    Var declared;
    for (UINT f = 0; f < function_count(info); ++f) {
        FUNCDESC* function = nullptr;
        ASSERT_EQ(info->GetFuncDesc(f, &function), S_OK);
        if (function->memid == read_string && function->cParams == 3) {
            const PARAMDESC& sdefault = function->lprgelemdescParam[2].paramdesc;
            if ((sdefault.wParamFlags & PARAMFLAG_FHASDEFAULT) != 0) {
                VariantCopy(declared.get(), &sdefault.pparamdescex->varDefaultValue);
            }
        }
        info->ReleaseFuncDesc(function);
    }
    const std::wstring nowhere = L"HKCU\\Software\\syskit-com-test-no-such-key";
    EXPECT_EQ(text(declared), text(invoke(reg, L"ReadString", {str(nowhere), str(L"v")}).result));
}

// Byte strings come as arrays of any element type that converts to bytes. The DECIMAL array
// documents a fault: its 16-byte elements are read into the wrong place of a VARIANT.
TEST_F(Com, ByteStringsComeAsArraysOfAnyConvertibleType) {
    const Ref<IDispatch> codec = create(kCodec);
    for (const VARTYPE type :
         {VT_UI1, VT_I2, VT_I4, VT_R8, VT_CY, VT_BSTR, VT_VARIANT, VT_DECIMAL}) {
        EXPECT_EQ(text(invoke(codec, L"EncodeStr64", {array_of(type, {1, 2, 3}), i4(60)}).result),
                  L"AQID")
            << "elements of type " << type;
    }
}

// --- By-reference outputs ------------------------------------------------------------------------

// Registers captured elsewhere: leaf 0 with two standard levels, leaf 2 with one round of cache
// descriptors.
Ref<IDispatch> cpu_with_cache_leaf() {
    Ref<IDispatch> cpu = create(kCpuInfo);
    EXPECT_EQ(
        invoke(cpu, L"LevelSet", {i4(0), i4(2), i4(0x756E6547), i4(0x6C65746E), i4(0x49656E69)}).hr,
        S_OK);
    EXPECT_EQ(
        invoke(cpu, L"LevelSet", {i4(2), i4(0x665B5001), i4(0), i4(INT32_MIN), i4(0x007A7000)}).hr,
        S_OK);
    EXPECT_EQ(invoke(cpu, L"Refresh", {boolean(false)}).hr, S_OK);
    return cpu;
}

TEST_F(Com, LevelGetWritesEachRegisterInItsVariablesType) {
    const Ref<IDispatch> cpu = cpu_with_cache_leaf();
    Var eax(str(L"an earlier value"));
    LONG ecx = 0;
    double edx = 0;
    Args args{i4(2), ref(eax), i4(7), ref(VT_I4, &ecx), ref(VT_R8, &edx)};
    ASSERT_EQ(invoke(cpu, L"LevelGet", args).hr, S_OK);
    EXPECT_EQ(V_VT(eax.get()), VT_I4);
    EXPECT_EQ(V_I4(eax.get()), 0x665B5001);
    EXPECT_EQ(V_VT(&args[2]), VT_I4);  // passed by value: nowhere to write to
    EXPECT_EQ(V_I4(&args[2]), 7);
    EXPECT_EQ(ecx, INT32_MIN);
    EXPECT_EQ(edx, 8024064.0);
}

TEST_F(Com, BenchStopWritesSecondsAsDoubleAndCyclesAsCurrency) {
    const Ref<IDispatch> cpu = create(kCpuInfo);
    ASSERT_EQ(invoke(cpu, L"BenchStart", {}).hr, S_OK);
    double seconds = -1;
    CY cycles{};
    Var seconds_variant;
    Var cycles_variant;
    ASSERT_EQ(invoke(cpu, L"BenchStop", {ref(VT_R8, &seconds), ref(cycles_variant)}).hr, S_OK);
    ASSERT_EQ(invoke(cpu, L"BenchStop", {ref(seconds_variant), ref(VT_CY, &cycles)}).hr, S_OK);
    EXPECT_GE(seconds, 0);
    EXPECT_GT(cycles.int64, 0);
    ASSERT_EQ(V_VT(seconds_variant.get()), VT_R8);
    EXPECT_GE(V_R8(seconds_variant.get()), seconds);
    ASSERT_EQ(V_VT(cycles_variant.get()), VT_CY);
    EXPECT_GT(V_CY(cycles_variant.get()).int64, 0);
}

TEST_F(Com, StrToBinRewritesTextVariablesButNotValues) {
    const Ref<IDispatch> reg = create(kRegistryAccess);
    BSTR typed = SysAllocString(L"01 02 41");
    EXPECT_EQ(text(invoke(reg, L"StrToBin", {ref(VT_BSTR, &typed)}).result),
              (std::wstring{L'\x01', L'\x02', L'A'}));
    EXPECT_EQ(std::wstring(typed, SysStringLen(typed)), L"010241");
    SysFreeString(typed);
    Var variant(str(L"01 02 41"));
    EXPECT_EQ(invoke(reg, L"StrToBin", {ref(variant)}).hr, S_OK);
    EXPECT_EQ(text(variant), L"010241");
    Args by_value{str(L"01 02 41")};
    EXPECT_EQ(invoke(reg, L"StrToBin", by_value).hr, S_OK);
    EXPECT_EQ(text(by_value[0]), L"01 02 41");
}

// A key of this process's own with the subkeys Alpha and Beta, removed with them afterwards.
class TestKey {
  public:
    TestKey() {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        for (const wchar_t* subkey : {L"\\Beta", L"\\Alpha"}) {
            HKEY key = nullptr;
            EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + subkey).c_str(), 0, nullptr, 0,
                                      KEY_WRITE, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
    }
    ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    [[nodiscard]] std::wstring path() const { return L"HKCU\\" + path_; }

  private:
    std::wstring path_ = L"Software\\syskit-com-test-" + std::to_wstring(GetCurrentProcessId());
};

TEST_F(Com, EnumKeysReplacesATypedTextArrayWithOneFromZero) {
    const TestKey key;
    const Ref<IDispatch> reg = create(kRegistryAccess);
    SAFEARRAY* keys = text_array({L"old"}, 5);
    const Outcome count =
        invoke(reg, L"EnumKeys", {str(key.path()), ref(VT_ARRAY | VT_BSTR, &keys)});
    EXPECT_EQ(number(count.result), 2);
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(keys, &type);
    EXPECT_EQ(type, VT_BSTR);
    EXPECT_EQ(lower_bound(keys), 0);
    std::vector<std::wstring> names = text_elements(keys);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"Beta"}));
    SafeArrayDestroy(keys);
}

// Arrays the caller cannot let go of, held in a VARIANT variable and in a typed one. The locked
// array as a typed variable documents a fault: the server does not notice that it cannot destroy
// it, and puts its own array in its place.
class HeldArrays : public Com, public testing::WithParamInterface<bool> {};

TEST_P(HeldArrays, AreRefusedAndLeftIntact) {
    const bool locked = GetParam();
    const TestKey key;
    const Ref<IDispatch> reg = create(kRegistryAccess);
    SAFEARRAY* array = text_array({L"keep"}, 0);
    if (locked) {
        SafeArrayLock(array);
    } else {
        array->fFeatures |= FADF_FIXEDSIZE;
    }
    Var held;
    V_VT(held.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(held.get()) = array;
    SAFEARRAY* typed = array;
    for (const VARIANT variable : {ref(held), ref(VT_ARRAY | VT_BSTR, &typed)}) {
        const Outcome outcome = invoke(reg, L"EnumKeys", {str(key.path()), variable});
        EXPECT_EQ(outcome.hr, DISP_E_ARRAYISLOCKED);
        EXPECT_EQ(outcome.arg_error, 0U);
        EXPECT_EQ(V_ARRAY(held.get()), array);
        EXPECT_EQ(typed, array);
        EXPECT_EQ(text_elements(array), std::vector<std::wstring>{L"keep"});
    }
    if (typed != array) SafeArrayDestroy(typed);
    if (locked) {
        SafeArrayUnlock(array);
    } else {
        array->fFeatures = static_cast<USHORT>(array->fFeatures & ~FADF_FIXEDSIZE);
    }
}

INSTANTIATE_TEST_SUITE_P(ByReference, HeldArrays, testing::Bool(), [](const auto& p) {
    return std::string(p.param ? "Locked" : "FixedSize");
});

TEST_F(Com, ByteArraysStayByteArraysThroughTheCipher) {
    const Ref<IDispatch> codec = create(kCodec);
    const std::vector<int> original{1, 2, 3, 250};
    Var bytes(array_of(VT_UI1, {1, 2, 3, 250}));
    for (const wchar_t* coder : {L"EncodeByteArray", L"DecodeByteArray"}) {
        SCOPED_TRACE(coder);
        ASSERT_EQ(invoke(codec, L"SetKey", {str(L"a"), str(L"b")}).hr, S_OK);
        ASSERT_EQ(invoke(codec, coder, {ref(bytes)}).hr, S_OK);
        ASSERT_EQ(V_VT(bytes.get()), VT_ARRAY | VT_UI1);
        EXPECT_EQ(lower_bound(V_ARRAY(bytes.get())), 0);
        EXPECT_EQ(byte_elements(V_ARRAY(bytes.get())).size(), 4U);
        EXPECT_EQ(byte_elements(V_ARRAY(bytes.get())) == original, coder[0] == L'D');
    }
}

// --- Returned arrays -----------------------------------------------------------------------------

TEST_F(Com, ReturnedArraysAreVariantArraysWithTheirLowerBounds) {
    const Ref<IDispatch> cpu = cpu_with_cache_leaf();
    const Outcome descriptors = invoke(cpu, L"CacheDescriptors", {});
    ASSERT_EQ(V_VT(descriptors.result.get()), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(lower_bound(V_ARRAY(descriptors.result.get())), 1);
    EXPECT_EQ(byte_elements(V_ARRAY(descriptors.result.get())),
              (std::vector<int>{0x66, 0x5B, 0x50, 0x7A, 0x70}));
    const VARTYPE count_type = V_VT(invoke(cpu, L"CpuLogicalCount", {}).result.get());
    EXPECT_TRUE(count_type == VT_EMPTY || count_type == VT_I4) << count_type;

    const Ref<IDispatch> codec = create(kCodec);
    const Outcome dummy = invoke(codec, L"RandomDummy", {});
    ASSERT_EQ(V_VT(dummy.result.get()), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(lower_bound(V_ARRAY(dummy.result.get())), 0);
    const std::vector<int> block = byte_elements(V_ARRAY(dummy.result.get()));
    ASSERT_GE(block.size(), 32U);
    EXPECT_EQ(block[0], static_cast<int>(block.size()));  // a dummy block starts with its length
    EXPECT_EQ(std::count(block.begin(), block.end(), -1), 0);

    const Outcome stream = invoke(codec, L"HuffEncodeString", {str(L"abracadabra")});
    ASSERT_EQ(V_VT(stream.result.get()), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(lower_bound(V_ARRAY(stream.result.get())), 0);
    EXPECT_EQ(text(invoke(codec, L"HuffDecodeString", {copy(stream.result)}).result),
              L"abracadabra");
}

// --- Errors --------------------------------------------------------------------------------------

TEST_F(Com, ComponentErrorsArriveWithNumberSourceAndDescription) {
    const Ref<IDispatch> codec = create(kCodec);
    const auto expect_raised = [&](const wchar_t* member, auto arguments, SCODE scode,
                                   const wchar_t* source, const wchar_t* description) {
        SCOPED_TRACE(member);
        const Outcome raised = invoke(codec, member, arguments());
        EXPECT_EQ(raised.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(raised.scode, scode);
        EXPECT_EQ(raised.wcode, 0);  // only one of the two numbers may be given
        EXPECT_EQ(raised.source, source);
        EXPECT_EQ(raised.description, description);
        // With nowhere to put the EXCEPINFO, the number itself is the answer.
        EXPECT_EQ(invoke(codec, member, arguments(), kCall, false).hr, scode);
    };
    const auto empty_key1 = [] { return Args{str(L"x"), str(L""), str(L"")}; };
    const auto not_a_stream = [] { return Args{array_of(VT_VARIANT, {72, 69, 88, 13})}; };
    expect_raised(L"EncodeString", empty_key1, SCODE(0x800A000B), L"syskit", L"Division by zero");
    expect_raised(L"HuffDecodeString", not_a_stream, SCODE(0x80040000), L"HuffmanDecode()",
                  L"The data either was not compressed with HE3 or is corrupt (identification "
                  L"string not found)");
}

// --- Self-registration ---------------------------------------------------------------------------

// A value under HKEY_CLASSES_ROOT, or what is missing instead.
std::wstring class_value(const std::wstring& key, const wchar_t* name = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const LONG status = RegGetValueW(handle, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? value : L"<no value>";
}

// The class keys are machine-wide: the test starts without them and leaves none behind, whatever
// the server's own unregistration does.
class Registration : public Com {
  protected:
    void SetUp() override {
        forget_classes();
        Com::SetUp();
    }
    void TearDown() override {
        forget_classes();
        Com::TearDown();
    }
    static void forget_classes() {
        for (const ServerClass& c : kClasses) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, c.prog_id);
            RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + c.clsid).c_str());
        }
    }
};

TEST_F(Registration, WritesTheClassKeysAndRemovesOnlyItsOwn) {
    std::wstring module(MAX_PATH, L'\0');
    module.resize(GetModuleFileNameW(dll(), module.data(), MAX_PATH));
    ASSERT_EQ(register_server(), S_OK);
    for (const ServerClass& c : kClasses) {
        SCOPED_TRACE(c.name);
        const std::wstring key = std::wstring(L"CLSID\\") + c.clsid;
        EXPECT_EQ(class_value(std::wstring(c.prog_id) + L"\\CLSID"), c.clsid);
        EXPECT_EQ(class_value(key + L"\\InprocServer32"), module);
        EXPECT_EQ(class_value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(class_value(key + L"\\ProgID"), c.prog_id);
    }
    ASSERT_EQ(unregister_server(), S_OK);
    for (const ServerClass& c : kClasses) {
        EXPECT_EQ(class_value(c.prog_id), L"<no key>") << c.name;
        EXPECT_EQ(class_value(std::wstring(L"CLSID\\") + c.clsid), L"<no key>") << c.name;
    }

    // Another server has since taken over a ProgID: it stays with that server.
    ASSERT_EQ(register_server(), S_OK);
    const std::wstring other = kOtherClass;
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CLASSES_ROOT, L"Syskit.Codec\\CLSID", nullptr, REG_SZ, other.c_str(),
                        static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))),
        ERROR_SUCCESS);
    ASSERT_EQ(unregister_server(), S_OK);
    EXPECT_EQ(class_value(L"Syskit.Codec\\CLSID"), other);
    EXPECT_EQ(class_value(std::wstring(L"CLSID\\") + kClasses[3].clsid), L"<no key>");
    EXPECT_EQ(class_value(L"Syskit.CpuInfo"), L"<no key>");
}

}  // namespace
}  // namespace com_test
