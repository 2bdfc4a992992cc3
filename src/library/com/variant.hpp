// Values crossing the automation boundary: texts as BSTRs, numbers, currency, and arrays as
// SAFEARRAYs.
//
// Script hosts index only arrays of VARIANTs, so every array the server hands out is a one-
// dimensional SAFEARRAY of VARIANTs whose elements carry their own type (texts as VT_BSTR, bytes as
// VT_UI1, registry values as VT_EMPTY, VT_BSTR or VT_I4). A caller that passes a typed array by
// reference gets its own element type back (see Call::set_out). Texts are UTF-16 here and UTF-8 in
// the components; a lone surrogate becomes U+FFFD on the way in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "syskit/currency.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"

namespace syskit::com {

// An owned VARIANT, cleared when it goes.
class Variant {
  public:
    Variant() noexcept { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.value_;
            VariantInit(&other.value_);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    [[nodiscard]] VARIANT* get() noexcept { return &value_; }
    [[nodiscard]] const VARIANT* get() const noexcept { return &value_; }
    // Hands the value over to the caller, leaving this one empty.
    [[nodiscard]] VARIANT release() noexcept {
        VARIANT v = value_;
        VariantInit(&value_);
        return v;
    }

  private:
    VARIANT value_;
};

[[nodiscard]] std::wstring widen(std::string_view utf8);
[[nodiscard]] std::string narrow(std::wstring_view utf16);

// A new BSTR holding the text; throws std::bad_alloc when the system has no memory for it.
[[nodiscard]] BSTR make_bstr(std::string_view utf8);

[[nodiscard]] Variant empty_value();
[[nodiscard]] Variant i4_value(std::int32_t value);
[[nodiscard]] Variant i2_value(std::int16_t value);
[[nodiscard]] Variant ui1_value(std::uint8_t value);
[[nodiscard]] Variant bool_value(bool value);
[[nodiscard]] Variant r8_value(double value);
[[nodiscard]] Variant cy_value(Currency value);
[[nodiscard]] Variant text_value(std::string_view utf8);

// One-dimensional arrays of VARIANTs with the given lower bound.
[[nodiscard]] Variant text_array(const std::vector<std::string>& texts, LONG lower_bound);
[[nodiscard]] Variant byte_array(std::span<const std::uint8_t> bytes, LONG lower_bound);
[[nodiscard]] Variant registry_value_array(const std::vector<RegistryValue>& values,
                                           LONG lower_bound);

}  // namespace syskit::com
