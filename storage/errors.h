// The error family: every failure that ends a run is one of these, reported once by the driver.
#pragma once

#include <exception>
#include <string>

namespace quarlix {

/// Base of every error this system raises; kind() names the error in the report.
class EError : public std::exception {
  public:
    explicit EError(std::string message) : message_(std::move(message)) {}
    virtual const char* kind() const noexcept { return "EError"; }
    const char* what() const noexcept override { return message_.c_str(); }
    /// Adds what happened because of the error, e.g. that the output was left as it was.
    void append(const std::string& consequence) { message_ += consequence; }

  private:
    std::string message_;
};

/// An allocation that could not be satisfied.
class EOutOfMemory : public EError {
  public:
    EOutOfMemory() : EError("out of memory") {}
    const char* kind() const noexcept override { return "EOutOfMemory"; }
};

/// A failed disk operation: names the file and the operation.
class EInOutError : public EError {
  public:
    using EError::EError;
    const char* kind() const noexcept override { return "EInOutError"; }
};

/// A zlib routine reported a negative status.
class EZlibError : public EError {
  public:
    using EError::EError;
    const char* kind() const noexcept override { return "EZlibError"; }
};

class ECompressionError : public EZlibError {
  public:
    ECompressionError() : EZlibError("error") {}
    const char* kind() const noexcept override { return "ECompressionError"; }
};

class EDecompressionError : public EZlibError {
  public:
    EDecompressionError() : EZlibError("error") {}
    const char* kind() const noexcept override { return "EDecompressionError"; }
};

/// An array size that is negative or larger than a signed 32-bit size can express.
class ERangeError : public EError {
  public:
    using EError::EError;
    const char* kind() const noexcept override { return "ERangeError"; }
};

/// Level data that cannot be read whole: names the section, the field and the byte offset.
class ELevelFormatError : public EError {
  public:
    using EError::EError;
    const char* kind() const noexcept override { return "ELevelFormatError"; }
};

} // namespace quarlix
