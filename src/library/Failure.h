#pragma once
// What went wrong in the test library, as a value: one message for people,
// naming the database or file concerned and never a password.

#include <QString>
#include <variant>

namespace eload::library {

struct Failure {
    QString message;
};

template <typename T> using Result = std::variant<T, Failure>;

template <typename T> const Failure* failureOf(const Result<T>& r)
{
    return std::get_if<Failure>(&r);
}

} // namespace eload::library
