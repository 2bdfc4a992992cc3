// Late binding for the server's objects: one IDispatch implementation driven by a member table.
//
// Script hosts find members by name (GetIDsOfNames, any case) and call them through Invoke with
// their arguments in a DISPPARAMS, last argument first, variables passed as VT_BYREF VARIANTs.
// Each object lists its members once: name, the handler that reads or calls it, the handler that
// assigns it (properties only) and how many arguments it takes. A handler reads its arguments in
// the components' order through Call, writes by-reference outputs back into the caller's
// variables, and sets the result. What a component raises becomes an EXCEPINFO with the error's
// number, source and description, so a script's Err object shows them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "library/com/variant.hpp"
#include "syskit/currency.hpp"
#include "syskit/text.hpp"

namespace syskit::com {

// Objects and class factories alive, and LockServer locks held: the DLL may be unloaded only when
// both are zero.
extern std::atomic<long> g_live_objects;
extern std::atomic<long> g_server_locks;

// Reads the arguments of one Invoke and writes its outputs. Argument i is the caller's i-th
// argument, counted from 0 in the order the member declares them.
class Call {
  public:
    Call(DISPPARAMS* params, VARIANT* result) noexcept : params_(params), result_(result) {}

    [[nodiscard]] std::size_t count() const noexcept { return params_->cArgs; }
    // False when the caller left the argument out (not passed, or passed as "missing").
    [[nodiscard]] bool has(std::size_t i) const noexcept;

    [[nodiscard]] std::int32_t i4(std::size_t i) const;
    [[nodiscard]] std::int16_t i2(std::size_t i) const;
    [[nodiscard]] std::uint8_t ui1(std::size_t i) const;
    [[nodiscard]] bool boolean(std::size_t i) const;
    [[nodiscard]] float r4(std::size_t i) const;
    [[nodiscard]] std::string text(std::size_t i) const;
    // Any one-dimensional array whose elements convert to bytes, first to last; `lower_bound`,
    // when given, receives the array's lower bound.
    [[nodiscard]] Bytes bytes(std::size_t i, LONG* lower_bound = nullptr) const;
    // The argument as an object, or nullptr when it holds none (any other value, or Nothing).
    [[nodiscard]] IDispatch* object(std::size_t i) const;

    // Optional arguments: the default when the caller left them out.
    [[nodiscard]] std::int32_t i4_or(std::size_t i, std::int32_t fallback) const {
        return has(i) ? i4(i) : fallback;
    }
    [[nodiscard]] bool boolean_or(std::size_t i, bool fallback) const {
        return has(i) ? boolean(i) : fallback;
    }

    // Writes `value` into the caller's variable when argument i was passed by reference; a value
    // passed by value has nowhere to go back to and is left alone. A typed variable gets the value
    // converted to its type (arrays element by element); a VARIANT variable that holds an array of
    // another element type keeps that element type.
    void set_out(std::size_t i, const Variant& value) const;

    void set_result(Variant value) const;

    // The raw argument, with VARIANT references followed; nullptr when left out.
    [[nodiscard]] const VARIANT* argument(std::size_t i) const noexcept;

  private:
    [[nodiscard]] Variant converted(std::size_t i, VARTYPE type) const;

    DISPPARAMS* params_;
    VARIANT* result_;
};

class DispatchObject;

// One named member. `get` serves method calls and property reads, `put` property assignments;
// either may be null.
struct Member {
    const wchar_t* name;
    void (*get)(DispatchObject& self, Call& call);
    void (*put)(DispatchObject& self, Call& call);
    std::uint8_t min_args;
    std::uint8_t max_args;
};

class DispatchObject : public IDispatch {
  public:
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) override;

  protected:
    // `interface_id` names the object's dispinterface in the type library; its DISPIDs are the
    // members' positions in `members`, counted from 1.
    DispatchObject(std::span<const Member> members, const IID& interface_id) noexcept;
    virtual ~DispatchObject();

  private:
    std::atomic<ULONG> references_{1};
    std::span<const Member> members_;
    const IID& interface_id_;
};

}  // namespace syskit::com
