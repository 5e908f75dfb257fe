// The one shape of failure for fallible calls: a Status is ok, or a code with a message for people;
// a Result<T> holds a value or a failed Status. Neither converts to bool, so a call site says
// `isOk()` or `hasValue()` and cannot read a failure as success.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace foundation {

enum class StatusCode {
    ok,
    invalidArgument, // the caller's input is malformed or out of range
    notFound,        // what was asked for does not exist
    ioError,         // a file or the network failed
    corruptData,     // stored or received data cannot be read
    unavailable,     // not possible now (locked, busy, shut down); may work later
    internal,        // a broken invariant of our own
    cancelled,       // stopped on request before it was done
};

class Status {
public:
    Status() = default;
    static Status success() { return Status(); }
    // A failure; `code` must not be StatusCode::ok.
    static Status failure(StatusCode code, std::string message)
    {
        if (code == StatusCode::ok)
            throw std::logic_error("a failed Status needs a failure code");
        return Status(code, std::move(message));
    }

    bool isOk() const { return code_ == StatusCode::ok; }
    StatusCode code() const { return code_; }
    // Empty when ok.
    const std::string& message() const { return message_; }

    friend bool operator==(const Status&, const Status&) = default;

private:
    Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

    StatusCode code_ = StatusCode::ok;
    std::string message_;
};

template <typename T>
class Result {
public:
    Result(T value) : content_(std::move(value)) {}
    // A failed status; an ok one here is a programming error.
    Result(Status failure) : content_(std::move(failure))
    {
        if (std::get<Status>(content_).isOk())
            throw std::logic_error("a Result without a value needs a failed Status");
    }

    bool hasValue() const { return std::holds_alternative<T>(content_); }
    // Ok when it holds a value.
    Status status() const { return hasValue() ? Status() : std::get<Status>(content_); }

    // Reading the value of a failed result is a programming error.
    const T& value() const& { return checkedValue(); }
    T& value() & { return const_cast<T&>(checkedValue()); }
    T&& value() && { return std::move(const_cast<T&>(checkedValue())); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    template <typename U>
    T valueOr(U&& fallback) const&
    {
        return hasValue() ? std::get<T>(content_) : static_cast<T>(std::forward<U>(fallback));
    }

private:
    const T& checkedValue() const
    {
        if (!hasValue())
            throw std::logic_error("value() of a failed Result: " + std::get<Status>(content_).message());
        return std::get<T>(content_);
    }

    std::variant<T, Status> content_;
};

} // namespace foundation
