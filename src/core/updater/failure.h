#pragma once

#include <exception>
#include <string>

#include "core/platform/error.h"

namespace corvidale::updater {

// The updater's own errors. Thrown as exceptions by the feed reader and the
// installer; the one place that shows them is describe() below.
class Failure : public std::exception {
public:
    enum class Kind { Feed, Signature, Install, Download, Checksum };

    static Failure feed(std::string reason) { return {Kind::Feed, std::move(reason)}; }
    static Failure signature(std::string detail) { return {Kind::Signature, std::move(detail)}; }
    static Failure install(std::string detail) { return {Kind::Install, std::move(detail)}; }
    static Failure download() { return {Kind::Download, {}}; }
    static Failure checksum() { return {Kind::Checksum, {}}; }

    Kind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }
    // What an alert shows.
    const std::string& description() const { return description_; }
    // What a log line shows: `checksum`, `feed("unreadable")`.
    std::string diagnostic() const;
    const char* what() const noexcept override { return description_.c_str(); }

private:
    Failure(Kind kind, std::string detail);

    Kind kind_;
    std::string detail_;
    std::string description_;
};

// An error of the system (a file that cannot be read, a folder that cannot be
// made), passed on as the system told it.
class SystemError : public std::exception {
public:
    explicit SystemError(platform::Error error) : error_(std::move(error)) {}
    // From an errno value, about the item at `path`.
    static SystemError fromErrno(int code, const std::string& path);
    const platform::Error& error() const { return error_; }
    const char* what() const noexcept override { return error_.localizedDescription.c_str(); }

private:
    platform::Error error_;
};

// A transport failure of the URL session, passed on as the system told it.
class TransportError : public SystemError {
public:
    using SystemError::SystemError;
};

struct ErrorReport {
    std::string localizedDescription;
    std::string diagnostic;
};

// Any error caught from the updater, as the user and the log see it.
ErrorReport describe(std::exception_ptr error);

}  // namespace corvidale::updater
