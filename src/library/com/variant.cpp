// Building the VARIANTs the server returns, and the UTF-8 / UTF-16 conversions under them.
#include "library/com/variant.hpp"

#include <new>
#include <type_traits>

namespace syskit::com {
namespace {

// A one-dimensional SAFEARRAY of VARIANTs filled by `fill(index, element)`.
template <class Fill>
Variant variant_array(std::size_t count, LONG lower_bound, Fill fill) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), lower_bound};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (array == nullptr) throw std::bad_alloc();
    Variant result;
    V_VT(result.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.get()) = array;
    VARIANT* elements = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) {
        throw std::bad_alloc();
    }
    try {
        for (std::size_t i = 0; i < count; ++i) fill(i, elements[i]);
    } catch (...) {
        SafeArrayUnaccessData(array);
        throw;
    }
    SafeArrayUnaccessData(array);
    return result;
}

// A VARIANT of type `type` whose value member `member` holds `value`.
template <VARTYPE type, class Value>
Variant scalar(Value VARIANT::*member, std::type_identity_t<Value> value) {
    Variant v;
    V_VT(v.get()) = type;
    v.get()->*member = value;
    return v;
}

}  // namespace

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

BSTR make_bstr(std::string_view utf8) {
    const std::wstring wide = widen(utf8);
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (text == nullptr) throw std::bad_alloc();
    return text;
}

Variant empty_value() {
    return {};
}

Variant i4_value(std::int32_t value) {
    return scalar<VT_I4>(&VARIANT::lVal, value);
}
Variant i2_value(std::int16_t value) {
    return scalar<VT_I2>(&VARIANT::iVal, value);
}
Variant ui1_value(std::uint8_t value) {
    return scalar<VT_UI1>(&VARIANT::bVal, value);
}
Variant r8_value(double value) {
    return scalar<VT_R8>(&VARIANT::dblVal, value);
}

Variant bool_value(bool value) {
    return scalar<VT_BOOL>(&VARIANT::boolVal,
                           static_cast<VARIANT_BOOL>(value ? VARIANT_TRUE : VARIANT_FALSE));
}

Variant cy_value(Currency value) {
    Variant v;
    V_VT(v.get()) = VT_CY;
    V_CY(v.get()).int64 = value.raw();
    return v;
}

Variant text_value(std::string_view utf8) {
    Variant v;
    V_BSTR(v.get()) = make_bstr(utf8);
    V_VT(v.get()) = VT_BSTR;
    return v;
}

Variant text_array(const std::vector<std::string>& texts, LONG lower_bound) {
    return variant_array(texts.size(), lower_bound, [&](std::size_t i, VARIANT& element) {
        V_BSTR(&element) = make_bstr(texts[i]);
        V_VT(&element) = VT_BSTR;
    });
}

Variant byte_array(std::span<const std::uint8_t> bytes, LONG lower_bound) {
    return variant_array(bytes.size(), lower_bound, [&](std::size_t i, VARIANT& element) {
        V_VT(&element) = VT_UI1;
        V_UI1(&element) = bytes[i];
    });
}

Variant registry_value_array(const std::vector<RegistryValue>& values, LONG lower_bound) {
    return variant_array(values.size(), lower_bound, [&](std::size_t i, VARIANT& element) {
        if (const auto* text = std::get_if<std::string>(&values[i])) {
            V_BSTR(&element) = make_bstr(*text);
            V_VT(&element) = VT_BSTR;
        } else if (const auto* number = std::get_if<std::int32_t>(&values[i])) {
            V_VT(&element) = VT_I4;
            V_I4(&element) = *number;
        }
    });
}

}  // namespace syskit::com
