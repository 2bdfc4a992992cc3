// Syskit.RegistryAccess: clsRegistryAccess for script hosts.
//
// Enumerations hand their arrays back through the caller's variables, zero-based; EnumKeys always
// writes its array (it empties it before opening the key), EnumValues only when the key opened.
// StrToBin writes the hex text without its spaces back into the caller's variable. The export's
// progress display is any object with a writable Text property; anything else given in its place
// makes the export fail once the header is written, as a display that cannot show text does.
// LastStatus and LastStatusText read the component's status without being operations themselves,
// so a script can read both after one call; a call refused before the component runs (wrong
// argument count, an argument that does not convert) leaves the status of the call before it.
#include <dispex.h>

#include <stdexcept>

#include "library/com/classes.hpp"
#include "library/com/dispatch.hpp"
#include "syskit/registry.hpp"

namespace syskit::com {
namespace {

class RegistryAccessObject final : public DispatchObject {
  public:
    RegistryAccessObject();
    clsRegistryAccess access;
};

clsRegistryAccess& reg(DispatchObject& self) {
    return static_cast<RegistryAccessObject&>(self).access;
}

// Shows the export's progress by assigning the caller's object's Text property. Objects a script
// makes itself answer names only through IDispatchEx, so that is asked first.
class TextPropertyDisplay final : public ExportProgress {
  public:
    explicit TextPropertyDisplay(IDispatch* target) : target_(target) {}

    void set_text(std::string_view text) override {
        if (target_ == nullptr) throw std::runtime_error("the progress display is not an object");
        Variant value = text_value(text);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{value.get(), &put, 1, 1};
        if (!assigned_through_dispatch_ex(params) && !assigned_through_dispatch(params)) {
            throw std::runtime_error("the progress display has no writable Text property");
        }
    }

  private:
    bool assigned_through_dispatch_ex(DISPPARAMS& params) {
        IDispatchEx* script_object = nullptr;
        if (FAILED(target_->QueryInterface(__uuidof(IDispatchEx),
                                           reinterpret_cast<void**>(&script_object)))) {
            return false;
        }
        BSTR name = SysAllocString(L"Text");
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = name != nullptr ? script_object->GetDispID(name, fdexNameCaseInsensitive, &id)
                                     : E_OUTOFMEMORY;
        SysFreeString(name);
        if (SUCCEEDED(hr)) {
            hr = script_object->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                         nullptr, nullptr, nullptr);
        }
        script_object->Release();
        return SUCCEEDED(hr);
    }

    bool assigned_through_dispatch(DISPPARAMS& params) {
        wchar_t name[] = L"Text";
        LPOLESTR names[] = {name};
        DISPID id = DISPID_UNKNOWN;
        return SUCCEEDED(target_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) &&
               SUCCEEDED(target_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                         &params, nullptr, nullptr, nullptr));
    }

    IDispatch* target_;
};

// Whether the export's optional Output was given: left out, Empty and Null all mean no display.
bool display_given(const Call& c) {
    const VARIANT* value = c.argument(3);
    return value != nullptr && V_VT(value) != VT_EMPTY && V_VT(value) != VT_NULL;
}

using C = Call;
using D = DispatchObject;
// The component's interface order, which gives the DISPIDs; later members go at the end, so that
// a number once handed out keeps its member.
const Member kRegistryMembers[] = {
    {L"CreateKeyIfDoesntExists",
     [](D& o, C& c) { c.set_result(bool_value(reg(o).CreateKeyIfDoesntExists())); },
     [](D& o, C& c) { reg(o).CreateKeyIfDoesntExists(c.boolean(0)); }, 0, 0},
    {L"CreateKey", [](D& o, C& c) { c.set_result(i4_value(reg(o).CreateKey(c.text(0)))); }, nullptr,
     1, 1},
    {L"KillKey", [](D& o, C& c) { c.set_result(i4_value(reg(o).KillKey(c.text(0)))); }, nullptr, 1,
     1},
    {L"KeyExists", [](D& o, C& c) { c.set_result(bool_value(reg(o).KeyExists(c.text(0)))); },
     nullptr, 1, 1},
    {L"EnumKeys",
     [](D& o, C& c) {
         std::vector<std::string> keys;
         const std::int32_t count = reg(o).EnumKeys(c.text(0), keys);
         c.set_out(1, text_array(keys, 0));
         c.set_result(i4_value(count));
     },
     nullptr, 2, 2},
    {L"HaveSubkey", [](D& o, C& c) { c.set_result(bool_value(reg(o).HaveSubkey(c.text(0)))); },
     nullptr, 1, 1},
    {L"WriteString",
     [](D& o, C& c) {
         c.set_result(i4_value(reg(o).WriteString(c.text(0), c.text(1), c.text(2))));
     },
     nullptr, 3, 3},
    {L"ReadString",
     [](D& o, C& c) {
         auto& r = reg(o);
         c.set_result(text_value(c.has(2) ? r.ReadString(c.text(0), c.text(1), c.text(2))
                                          : r.ReadString(c.text(0), c.text(1))));
     },
     nullptr, 2, 3},
    {L"WriteDWORD",
     [](D& o, C& c) { c.set_result(i4_value(reg(o).WriteDWORD(c.text(0), c.text(1), c.i4(2)))); },
     nullptr, 3, 3},
    {L"ReadDWORD",
     [](D& o, C& c) {
         auto& r = reg(o);
         c.set_result(i4_value(c.has(2) ? r.ReadDWORD(c.text(0), c.text(1), c.i4(2))
                                        : r.ReadDWORD(c.text(0), c.text(1))));
     },
     nullptr, 2, 3},
    {L"WriteBinary",
     [](D& o, C& c) {
         c.set_result(i4_value(reg(o).WriteBinary(c.text(0), c.text(1), c.text(2))));
     },
     nullptr, 3, 3},
    {L"ReadBinary",
     [](D& o, C& c) {
         auto& r = reg(o);
         c.set_result(text_value(c.has(2) ? r.ReadBinary(c.text(0), c.text(1), c.text(2))
                                          : r.ReadBinary(c.text(0), c.text(1))));
     },
     nullptr, 2, 3},
    {L"KillValue",
     [](D& o, C& c) { c.set_result(i4_value(reg(o).KillValue(c.text(0), c.text(1)))); }, nullptr, 2,
     2},
    {L"ValueExists",
     [](D& o, C& c) { c.set_result(bool_value(reg(o).ValueExists(c.text(0), c.text(1)))); },
     nullptr, 2, 2},
    {L"EnumValues",
     [](D& o, C& c) {
         std::vector<std::string> names;
         std::vector<RegistryValue> values;
         const std::int32_t count = reg(o).EnumValues(c.text(0), names, values, c.i4_or(3, -1));
         if (count != -1) {
             c.set_out(1, text_array(names, 0));
             c.set_out(2, registry_value_array(values, 0));
         }
         c.set_result(i4_value(count));
     },
     nullptr, 3, 4},
    {L"ExportToReg",
     [](D& o, C& c) {
         const std::string path = c.text(0);
         const std::string file = c.text(1);
         const bool subkeys = c.boolean_or(2, true);
         if (!display_given(c)) {
             c.set_result(i4_value(reg(o).ExportToReg(path, file, subkeys)));
             return;
         }
         TextPropertyDisplay display(c.object(3));
         c.set_result(i4_value(reg(o).ExportToReg(path, file, subkeys, &display)));
     },
     nullptr, 2, 4},
    {L"ImportFromReg", [](D& o, C& c) { c.set_result(i4_value(reg(o).ImportFromReg(c.text(0)))); },
     nullptr, 1, 1},
    {L"StrToBin",
     [](D& o, C& c) {
         std::string hex = c.text(0);
         std::string bytes;
         try {
             bytes = reg(o).StrToBin(hex);
         } catch (...) {
             c.set_out(0, text_value(hex));  // what the operation had rewritten before it failed
             throw;
         }
         c.set_out(0, text_value(hex));
         c.set_result(text_value(bytes));
     },
     nullptr, 1, 1},
    {L"BinToStr", [](D& o, C& c) { c.set_result(text_value(reg(o).BinToStr(c.text(0)))); }, nullptr,
     1, 1},
    {L"isBinValid", [](D& o, C& c) { c.set_result(bool_value(reg(o).isBinValid(c.text(0)))); },
     nullptr, 1, 1},
    {L"LastStatus",
     [](D& o, C& c) {
         c.set_result(i4_value(static_cast<std::int32_t>(reg(o).LastStatus().code)));
     },
     nullptr, 0, 0},
    {L"LastStatusText", [](D& o, C& c) { c.set_result(text_value(reg(o).LastStatus().message)); },
     nullptr, 0, 0},
};

// The dispinterface of the type library that describes these members.
const IID kRegistryInterface = {
    0x2fef7596, 0x7ea8, 0x4fa0, {0xab, 0xf2, 0x10, 0xc1, 0xd4, 0x31, 0x45, 0x0a}};

RegistryAccessObject::RegistryAccessObject()
    : DispatchObject(kRegistryMembers, kRegistryInterface) {}

}  // namespace

IDispatch* create_registry_access() {
    return new RegistryAccessObject();
}

}  // namespace syskit::com
