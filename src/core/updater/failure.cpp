#include "failure.h"

#include "core/util/posix.h"

namespace corvidale::updater {
namespace {

const char* caseName(Failure::Kind kind) {
    switch (kind) {
    case Failure::Kind::Feed: return "feed";
    case Failure::Kind::Signature: return "signature";
    case Failure::Kind::Install: return "install";
    case Failure::Kind::Download: return "download";
    case Failure::Kind::Checksum: return "checksum";
    }
    return "unknown";
}

std::string describeKind(Failure::Kind kind, const std::string& detail) {
    switch (kind) {
    case Failure::Kind::Feed: return "Couldn't read the update information (" + detail + ").";
    case Failure::Kind::Signature:
        return "The downloaded app isn't signed and notarized by Corvidale (" + detail + "), so it was not installed.";
    case Failure::Kind::Install: return "Couldn't replace the app: " + detail;
    case Failure::Kind::Download: return "The download didn't complete.";
    case Failure::Kind::Checksum: return "The download didn't match the published checksum, so it was not installed.";
    }
    return {};
}

bool hasDetail(Failure::Kind kind) {
    return kind == Failure::Kind::Feed || kind == Failure::Kind::Signature || kind == Failure::Kind::Install;
}

}  // namespace

Failure::Failure(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)), description_(describeKind(kind_, detail_)) {}

std::string Failure::diagnostic() const {
    std::string text = caseName(kind_);
    if (hasDetail(kind_)) text += "(\"" + detail_ + "\")";
    return text;
}

SystemError SystemError::fromErrno(int code, const std::string& path) {
    return SystemError(platform::posixError(code, path));
}

ErrorReport describe(std::exception_ptr error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const Failure& failure) {
        return {failure.description(), failure.diagnostic()};
    } catch (const SystemError& system) {
        return {system.error().localizedDescription, system.error().fullDescription};
    } catch (const PosixError& system) {
        const auto error = platform::posixError(system.errorNumber(), system.path());
        return {error.localizedDescription, error.fullDescription};
    } catch (const std::exception& other) {
        // Not one of ours (out of memory, say): still an outcome, never a crash.
        return {other.what(), other.what()};
    } catch (...) {
        return {"An unknown error occurred.", "unknown"};
    }
}

}  // namespace corvidale::updater
