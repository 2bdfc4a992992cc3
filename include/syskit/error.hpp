// syskit/error.hpp — the errors the components raise to their callers.
//
// Conditions a component expects are reported by value (0, false, an empty text, a default).
// Conditions it does not handle end the operation at once with one of these exceptions. Each
// carries the number, source and description a script host sees in its error object, so the
// in-process server can hand them on unchanged.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace syskit {

// Base of every error a component raises.
class Error : public std::runtime_error {
  public:
    Error(std::int32_t number, std::string source, std::string description)
        : std::runtime_error(description),
          number_(number),
          source_(std::move(source)),
          description_(std::move(description)) {}

    [[nodiscard]] std::int32_t number() const noexcept { return number_; }
    [[nodiscard]] const std::string& source() const noexcept { return source_; }
    [[nodiscard]] const std::string& description() const noexcept { return description_; }

  private:
    std::int32_t number_;
    std::string source_;
    std::string description_;
};

// The source of the runtime errors below: the library itself.
inline constexpr const char* kErrorSource = "syskit";

// Numbers the library defines for itself start here (0x80040000 as a signed 32-bit number).
inline constexpr std::int32_t kComponentErrorBase = -2147221504;

// An array index outside its bounds, including reading past the end of a stream.
class RangeError : public Error {
  public:
    static constexpr std::int32_t kNumber = 9;
    RangeError() : Error(kNumber, kErrorSource, "Subscript out of range") {}
};

// A result beyond its integer width.
class OverflowError : public Error {
  public:
    static constexpr std::int32_t kNumber = 6;
    OverflowError() : Error(kNumber, kErrorSource, "Overflow") {}
};

class DivisionByZeroError : public Error {
  public:
    static constexpr std::int32_t kNumber = 11;
    DivisionByZeroError() : Error(kNumber, kErrorSource, "Division by zero") {}
};

class OutOfMemoryError : public Error {
  public:
    static constexpr std::int32_t kNumber = 7;
    OutOfMemoryError() : Error(kNumber, kErrorSource, "Out of memory") {}
};

}  // namespace syskit
