// The table-driven IDispatch of every server object, and the argument conversions under it.
//
// Arguments convert the way the platform converts VARIANTs (VariantChangeType): a text "5" is the
// number 5, 2.5 rounds to 2, 70000 does not fit a 16-bit argument. A conversion that fails ends
// the call with the platform's own answer (type mismatch, overflow, missing argument) and names
// the argument, before the component is called.
#include "library/com/dispatch.hpp"

#include <cwchar>
#include <exception>
#include <new>

#include "library/com/classes.hpp"
#include "syskit/error.hpp"

namespace syskit::com {

std::atomic<long> g_live_objects{0};
std::atomic<long> g_server_locks{0};

namespace {

// A VARIANT reference may lead to another; a chain longer than this is a loop (a VARIANT that
// refers to itself) and is not followed further.
constexpr int kMaxReferenceHops = 16;

// Ends an Invoke with `result`, naming argument `index` (counted as the caller counted).
struct ArgumentError {
    HRESULT result;
    std::size_t index;
};

// The HRESULT a script host shows as the error's number: small numbers are the runtime's own
// error numbers and travel in the control facility; component numbers are HRESULTs already.
HRESULT error_scode(std::int32_t number) {
    if (number > 0 && number <= 0xFFFF) {
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number));
    }
    return static_cast<HRESULT>(number);
}

HRESULT raise(EXCEPINFO* exception, std::int32_t number, std::string_view source,
              std::string_view description) {
    const HRESULT scode = error_scode(number);
    if (exception == nullptr) return scode;
    *exception = EXCEPINFO{};
    exception->scode = scode;
    try {
        exception->bstrSource = make_bstr(source);
        exception->bstrDescription = make_bstr(description);
    } catch (const std::bad_alloc&) {
        // The number alone still reaches the caller.
    }
    return DISP_E_EXCEPTION;
}

SAFEARRAY* array_of(const VARIANT& value) {
    if ((V_VT(&value) & VT_ARRAY) == 0) return nullptr;
    return (V_VT(&value) & VT_BYREF) != 0 ? *V_ARRAYREF(&value) : V_ARRAY(&value);
}

// The address SafeArrayPutElement wants for an element held in `element`.
void* element_address(VARIANT& element, VARTYPE type) {
    switch (type) {
        case VT_VARIANT:
            return &element;
        case VT_DECIMAL:
            return &V_DECIMAL(&element);
        case VT_BSTR:
            return V_BSTR(&element);
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return V_UNKNOWN(&element);
        default:
            return &V_I8(&element);  // the start of the value storage
    }
}

// A copy of the one-dimensional array of VARIANTs in `value` with elements of `type`.
SAFEARRAY* convert_array(const VARIANT& value, VARTYPE type, std::size_t index) {
    SAFEARRAY* source = array_of(value);
    LONG lower = 0;
    LONG upper = -1;
    if (source == nullptr || FAILED(SafeArrayGetLBound(source, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(source, 1, &upper))) {
        throw ArgumentError{DISP_E_TYPEMISMATCH, index};
    }
    SAFEARRAYBOUND bound{static_cast<ULONG>(upper - lower + 1), lower};
    SAFEARRAY* target = SafeArrayCreate(type, 1, &bound);
    if (target == nullptr) throw ArgumentError{DISP_E_TYPEMISMATCH, index};
    for (LONG i = lower; i <= upper; ++i) {
        Variant element;
        Variant converted;
        HRESULT hr = SafeArrayGetElement(source, &i, element.get());
        // An array of VARIANTs takes each element as it is; VariantChangeType has no such target.
        if (SUCCEEDED(hr)) {
            hr = type == VT_VARIANT ? VariantCopy(converted.get(), element.get())
                                    : VariantChangeType(converted.get(), element.get(), 0, type);
        }
        if (SUCCEEDED(hr))
            hr = SafeArrayPutElement(target, &i, element_address(*converted.get(), type));
        if (FAILED(hr)) {
            SafeArrayDestroy(target);
            throw ArgumentError{hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH,
                                index};
        }
    }
    return target;
}

bool fixed_size(const SAFEARRAY* array) {
    return array != nullptr &&
           (array->fFeatures & (FADF_FIXEDSIZE | FADF_STATIC | FADF_EMBEDDED | FADF_AUTO)) != 0;
}

// Stores `value`, already of the variable's type `type`, through the typed reference `slot`.
void store_typed(VARIANT& slot, VARTYPE type, Variant& value, std::size_t index) {
    VARIANT& v = *value.get();
    switch (type) {
        case VT_UI1:
            *V_UI1REF(&slot) = V_UI1(&v);
            break;
        case VT_I1:
            *V_I1REF(&slot) = V_I1(&v);
            break;
        case VT_I2:
            *V_I2REF(&slot) = V_I2(&v);
            break;
        case VT_UI2:
            *V_UI2REF(&slot) = V_UI2(&v);
            break;
        case VT_I4:
            *V_I4REF(&slot) = V_I4(&v);
            break;
        case VT_UI4:
            *V_UI4REF(&slot) = V_UI4(&v);
            break;
        case VT_INT:
            *V_INTREF(&slot) = V_INT(&v);
            break;
        case VT_UINT:
            *V_UINTREF(&slot) = V_UINT(&v);
            break;
        case VT_I8:
            *V_I8REF(&slot) = V_I8(&v);
            break;
        case VT_UI8:
            *V_UI8REF(&slot) = V_UI8(&v);
            break;
        case VT_R4:
            *V_R4REF(&slot) = V_R4(&v);
            break;
        case VT_R8:
            *V_R8REF(&slot) = V_R8(&v);
            break;
        case VT_CY:
            *V_CYREF(&slot) = V_CY(&v);
            break;
        case VT_DATE:
            *V_DATEREF(&slot) = V_DATE(&v);
            break;
        case VT_BOOL:
            *V_BOOLREF(&slot) = V_BOOL(&v);
            break;
        case VT_BSTR:
            SysFreeString(*V_BSTRREF(&slot));
            *V_BSTRREF(&slot) = V_BSTR(&v);
            V_VT(&v) = VT_EMPTY;  // the caller's variable owns the text now
            break;
        default:
            throw ArgumentError{DISP_E_TYPEMISMATCH, index};
    }
}

}  // namespace

// --- Call -------------------------------------------------------------------------------------

const VARIANT* Call::argument(std::size_t i) const noexcept {
    if (i >= params_->cArgs) return nullptr;
    const VARIANT* v = &params_->rgvarg[params_->cArgs - 1 - i];
    for (int hops = 0; hops < kMaxReferenceHops && V_VT(v) == (VT_BYREF | VT_VARIANT) &&
                       V_VARIANTREF(v) != nullptr;
         ++hops) {
        v = V_VARIANTREF(v);
    }
    if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) return nullptr;
    return v;
}

bool Call::has(std::size_t i) const noexcept {
    return argument(i) != nullptr;
}

Variant Call::converted(std::size_t i, VARTYPE type) const {
    const VARIANT* value = argument(i);
    if (value == nullptr) throw ArgumentError{DISP_E_PARAMNOTOPTIONAL, i};
    Variant result;
    const HRESULT hr =
        VariantChangeType(result.get(), const_cast<VARIANT*>(value), VARIANT_ALPHABOOL, type);
    if (FAILED(hr))
        throw ArgumentError{hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH, i};
    return result;
}

std::int32_t Call::i4(std::size_t i) const {
    return V_I4(converted(i, VT_I4).get());
}
std::int16_t Call::i2(std::size_t i) const {
    return V_I2(converted(i, VT_I2).get());
}
std::uint8_t Call::ui1(std::size_t i) const {
    return V_UI1(converted(i, VT_UI1).get());
}
bool Call::boolean(std::size_t i) const {
    return V_BOOL(converted(i, VT_BOOL).get()) != 0;
}
float Call::r4(std::size_t i) const {
    return V_R4(converted(i, VT_R4).get());
}

std::string Call::text(std::size_t i) const {
    const Variant value = converted(i, VT_BSTR);
    const BSTR text = V_BSTR(value.get());
    return narrow(std::wstring_view(text, SysStringLen(text)));
}

Bytes Call::bytes(std::size_t i, LONG* lower_bound) const {
    const VARIANT* value = argument(i);
    if (value == nullptr) throw ArgumentError{DISP_E_PARAMNOTOPTIONAL, i};
    SAFEARRAY* array = array_of(*value);
    LONG lower = 0;
    LONG upper = -1;
    if (array == nullptr || SafeArrayGetDim(array) != 1 ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        throw ArgumentError{DISP_E_TYPEMISMATCH, i};
    }
    if (lower_bound != nullptr) *lower_bound = lower;
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(upper - lower + 1));
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    for (LONG k = lower; k <= upper; ++k) {
        Variant element;
        HRESULT hr = S_OK;
        if (type == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &k, element.get());
        } else if (type == VT_DECIMAL) {  // a DECIMAL fills the VARIANT from its start
            hr = SafeArrayGetElement(array, &k, &V_DECIMAL(element.get()));
            if (SUCCEEDED(hr)) V_VT(element.get()) = VT_DECIMAL;
        } else if (SafeArrayGetElemsize(array) > sizeof(V_I8(element.get()))) {
            hr = DISP_E_TYPEMISMATCH;  // records and the like: nothing that becomes a byte
        } else {
            hr = SafeArrayGetElement(array, &k, &V_I8(element.get()));
            if (SUCCEEDED(hr)) V_VT(element.get()) = type;
        }
        if (SUCCEEDED(hr)) hr = VariantChangeType(element.get(), element.get(), 0, VT_UI1);
        if (FAILED(hr))
            throw ArgumentError{hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH, i};
        bytes.push_back(V_UI1(element.get()));
    }
    return bytes;
}

IDispatch* Call::object(std::size_t i) const {
    const VARIANT* value = argument(i);
    if (value == nullptr) return nullptr;
    if (V_VT(value) == VT_DISPATCH) return V_DISPATCH(value);
    if (V_VT(value) == (VT_BYREF | VT_DISPATCH)) return *V_DISPATCHREF(value);
    return nullptr;
}

void Call::set_out(std::size_t i, const Variant& value) const {
    if (i >= params_->cArgs) return;
    VARIANT* slot = &params_->rgvarg[params_->cArgs - 1 - i];
    if ((V_VT(slot) & VT_BYREF) == 0) return;
    for (int hops = 0; V_VT(slot) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(slot) != nullptr &&
                       (V_VT(V_VARIANTREF(slot)) & VT_BYREF) != 0;
         ++hops) {
        if (hops == kMaxReferenceHops) throw ArgumentError{DISP_E_TYPEMISMATCH, i};
        slot = V_VARIANTREF(slot);
    }
    const VARTYPE slot_type = V_VT(slot);
    if (slot_type == (VT_BYREF | VT_VARIANT)) {
        VARIANT* target = V_VARIANTREF(slot);
        if (target == nullptr) return;
        Variant copy;
        const VARTYPE held = V_VT(target);
        if ((V_VT(value.get()) & VT_ARRAY) != 0 && (held & VT_ARRAY) != 0 &&
            (held & VT_TYPEMASK) != VT_VARIANT) {
            // Keep the element type of the array the variable holds (a byte array stays one).
            V_ARRAY(copy.get()) = convert_array(*value.get(), held & VT_TYPEMASK, i);
            V_VT(copy.get()) = held & ~VT_BYREF;
        } else if (FAILED(VariantCopy(copy.get(), const_cast<VARIANT*>(value.get())))) {
            throw std::bad_alloc();
        }
        // A locked array is refused before anything is cleared: the variable keeps it.
        const SAFEARRAY* old_array = array_of(*target);
        if ((held & VT_ARRAY) != 0 &&
            (fixed_size(old_array) || (old_array != nullptr && old_array->cLocks != 0))) {
            throw ArgumentError{DISP_E_ARRAYISLOCKED, i};
        }
        if (FAILED(VariantClear(target))) throw ArgumentError{DISP_E_ARRAYISLOCKED, i};
        *target = copy.release();
        return;
    }
    const VARTYPE type = slot_type & ~VT_BYREF;
    if ((type & VT_ARRAY) != 0) {
        SAFEARRAY** target = V_ARRAYREF(slot);
        if (fixed_size(*target) || (*target != nullptr && (*target)->cLocks != 0)) {
            throw ArgumentError{DISP_E_ARRAYISLOCKED, i};
        }
        SAFEARRAY* converted_array = convert_array(*value.get(), type & VT_TYPEMASK, i);
        if (*target != nullptr) SafeArrayDestroy(*target);
        *target = converted_array;
        return;
    }
    Variant converted_value;
    const HRESULT hr =
        VariantChangeType(converted_value.get(), const_cast<VARIANT*>(value.get()), 0, type);
    if (FAILED(hr))
        throw ArgumentError{hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH, i};
    store_typed(*slot, type, converted_value, i);
}

void Call::set_result(Variant value) const {
    if (result_ == nullptr) return;
    VariantClear(result_);
    *result_ = value.release();
}

// --- DispatchObject -------------------------------------------------------------------------

DispatchObject::DispatchObject(std::span<const Member> members, const IID& interface_id) noexcept
    : members_(members), interface_id_(interface_id) {
    ++g_live_objects;
}

DispatchObject::~DispatchObject() {
    --g_live_objects;
}

HRESULT DispatchObject::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::AddRef() {
    return ++references_;
}

ULONG DispatchObject::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeLib* library = nullptr;
    HRESULT hr = load_type_library(REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(interface_id_, info);
    library->Release();
    return hr;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    HRESULT result = S_OK;
    for (UINT k = 0; k < count; ++k) ids[k] = DISPID_UNKNOWN;
    for (std::size_t m = 0; m < members_.size(); ++m) {
        if (names[0] != nullptr && _wcsicmp(names[0], members_[m].name) == 0) {
            ids[0] = static_cast<DISPID>(m + 1);
            break;
        }
    }
    // No member takes named arguments.
    if (ids[0] == DISPID_UNKNOWN || count > 1) result = DISP_E_UNKNOWNNAME;
    return result;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argument_error) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS no_arguments{nullptr, nullptr, 0, 0};
    if (params == nullptr) params = &no_arguments;
    const Member& member = members_[static_cast<std::size_t>(id - 1)];

    const bool assigning = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    auto handler = assigning ? member.put : member.get;
    if (handler == nullptr ||
        (!assigning && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0)) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (assigning) {
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
            return DISP_E_PARAMNOTOPTIONAL;
        }
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    } else {
        if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        if (params->cArgs < member.min_args || params->cArgs > member.max_args) {
            return DISP_E_BADPARAMCOUNT;
        }
    }
    if (result != nullptr) VariantInit(result);

    Call call(params, result);
    try {
        handler(*this, call);
        return S_OK;
    } catch (const ArgumentError& e) {
        if (argument_error != nullptr) {
            *argument_error = static_cast<UINT>(params->cArgs - 1 - e.index);
        }
        return e.result;
    } catch (const Error& e) {
        return raise(exception, e.number(), e.source(), e.description());
    } catch (const std::bad_alloc&) {
        const OutOfMemoryError e;
        return raise(exception, e.number(), e.source(), e.description());
    } catch (const std::exception& e) {
        return raise(exception, static_cast<std::int32_t>(E_FAIL), kErrorSource, e.what());
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace syskit::com
