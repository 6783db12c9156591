// The error family: every failure that ends a run is one of these, reported once by the driver.
#pragma once

#include <stdexcept>
#include <string>

namespace quarlix {

/// Base of every error this system raises; kind() names the error in the report.
class EError : public std::runtime_error {
public:
    explicit EError(const std::string& message) : std::runtime_error(message) {}
    virtual const char* kind() const noexcept { return "EError"; }
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
