#pragma once
// The program's one error type: a failing operation raises it with a Russian
// message in CP1251. Windows catch it, trim the message and show it.
#include <exception>
#include <string>

class TError : public std::exception {
public:
    explicit TError(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& message() const noexcept { return Message; }

private:
    std::string Message;
};

// A delivery failure that another attempt cannot mend (the gateway refused the
// message for good): the message is given up at once, without retries.
class TPermanentError : public TError {
public:
    using TError::TError;
};

// The form of internal consistency errors: "Системная ошибка:", two carriage
// returns, the fault text in double quotes and a full stop.
TError SystemError(const std::string& fault);

// The message of an exception: a TError's own text, anything else in the
// system-error form. Never throws.
std::string ExceptionMessage(const std::exception_ptr& error);
