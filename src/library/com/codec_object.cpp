// Syskit.Codec: the ORBEX procedures for script hosts.
//
// The codec's state belongs to the calling thread, not to the object: every Syskit.Codec object a
// thread creates sees the same cipher, LastErrorCode and LastProgress, as callers of the
// procedures do. Byte strings travel as arrays indexed from 0; the in-place coders write their
// result back into the caller's array variable.
#include "library/com/classes.hpp"
#include "library/com/dispatch.hpp"
#include "syskit/orbex.hpp"

namespace syskit::com {
namespace {

class CodecObject final : public DispatchObject {
  public:
    CodecObject();
};

using C = Call;
using D = DispatchObject;

// Runs an in-place coder over the caller's array and writes the array back.
template <class Coder>
void code_in_place(C& c, Coder coder) {
    LONG lower_bound = 0;
    Bytes bytes = c.bytes(0, &lower_bound);
    coder(bytes);
    c.set_out(0, byte_array(bytes, lower_bound));
}

// Runs a buffer operation over the caller's array and its length; the array becomes the result,
// indexed from 0.
void recode_buffer(C& c, void (*operation)(Bytes&, std::int32_t)) {
    Bytes buffer = c.bytes(0);
    operation(buffer, c.i4(1));
    c.set_out(0, byte_array(buffer, 0));
}

const Member kCodecMembers[] = {
    {L"EncodeString",
     [](D&, C& c) {
         c.set_result(text_value(ORBEX::EncodeString(c.text(0), c.text(1), c.text(2))));
     },
     nullptr, 3, 3},
    {L"DecodeString",
     [](D&, C& c) {
         c.set_result(text_value(ORBEX::DecodeString(c.text(0), c.text(1), c.text(2))));
     },
     nullptr, 3, 3},
    {L"LastErrorCode", [](D&, C& c) { c.set_result(i2_value(ORBEX::LastErrorCode())); },
     [](D&, C& c) { ORBEX::LastErrorCode() = c.i2(0); }, 0, 0},
    {L"LastProgress", [](D&, C& c) { c.set_result(i2_value(ORBEX::LastProgress())); },
     [](D&, C& c) { ORBEX::LastProgress() = c.i2(0); }, 0, 0},
    {L"SetKey", [](D&, C& c) { ORBEX::SetKey(c.text(0), c.text(1)); }, nullptr, 2, 2},
    {L"FnORBEX", [](D&, C& c) { c.set_result(ui1_value(ORBEX::FnORBEX(c.ui1(0)))); }, nullptr, 1,
     1},
    {L"EncodeByte", [](D&, C& c) { c.set_result(ui1_value(ORBEX::EncodeByte(c.ui1(0)))); }, nullptr,
     1, 1},
    {L"DecodeByte", [](D&, C& c) { c.set_result(ui1_value(ORBEX::DecodeByte(c.ui1(0)))); }, nullptr,
     1, 1},
    {L"EncodeByteArray",
     [](D&, C& c) { code_in_place(c, [](Bytes& b) { ORBEX::EncodeByteArray(b); }); }, nullptr, 1,
     1},
    {L"DecodeByteArray",
     [](D&, C& c) { code_in_place(c, [](Bytes& b) { ORBEX::DecodeByteArray(b); }); }, nullptr, 1,
     1},
    {L"RandomDummy", [](D&, C& c) { c.set_result(byte_array(ORBEX::RandomDummy(), 0)); }, nullptr,
     0, 0},
    {L"UpdateStatus", [](D&, C& c) { ORBEX::UpdateStatus(c.r4(0)); }, nullptr, 1, 1},
    {L"HuffEncodeString",
     [](D&, C& c) { c.set_result(byte_array(ORBEX::HuffEncodeString(c.text(0)), 0)); }, nullptr, 1,
     1},
    {L"HuffDecodeString",
     [](D&, C& c) { c.set_result(text_value(ORBEX::HuffDecodeString(c.bytes(0)))); }, nullptr, 1,
     1},
    {L"HuffEncodeByte", [](D&, C& c) { recode_buffer(c, ORBEX::HuffEncodeByte); }, nullptr, 2, 2},
    {L"HuffDecodeByte", [](D&, C& c) { recode_buffer(c, ORBEX::HuffDecodeByte); }, nullptr, 2, 2},
    {L"EncodeStr64",
     [](D&, C& c) { c.set_result(text_value(ORBEX::EncodeStr64(c.bytes(0), c.i2(1)))); }, nullptr,
     2, 2},
    {L"DecodeStr64", [](D&, C& c) { c.set_result(byte_array(ORBEX::DecodeStr64(c.text(0)), 0)); },
     nullptr, 1, 1},
};

// The dispinterface of the type library that describes these members.
const IID kCodecInterface = {
    0x50a32d13, 0x623f, 0x47a8, {0xb1, 0x7c, 0xb6, 0x4e, 0x5e, 0xfb, 0x5d, 0x59}};

CodecObject::CodecObject() : DispatchObject(kCodecMembers, kCodecInterface) {}

}  // namespace

IDispatch* create_codec() {
    return new CodecObject();
}

}  // namespace syskit::com
