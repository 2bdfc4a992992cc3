// The codec's per-thread module state.
#include "codec/state.hpp"

#include "syskit/orbex.hpp"

namespace syskit::codec {

CodecState& codec_state() noexcept {
    // Zero-filled before first use, like the module data of every thread.
    thread_local CodecState state{};
    return state;
}

}  // namespace syskit::codec

namespace syskit::ORBEX {

std::int16_t& LastErrorCode() noexcept {
    return codec::codec_state().last_error_code;
}

std::int16_t& LastProgress() noexcept {
    return codec::codec_state().last_progress;
}

}  // namespace syskit::ORBEX
