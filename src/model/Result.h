#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// A value or a ready-to-show error message. Functions that can fail return this (or an
// optional error) instead of throwing across module boundaries.
template <typename T> class Result {
public:
    Result(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    static Result failure(QString message) { return Result(Error{std::move(message)}); }

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(m_data); }
    T& value() & { return std::get<0>(m_data); }
    T&& value() && { return std::get<0>(std::move(m_data)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }
    const QString& error() const { return std::get<1>(m_data).message; }

private:
    struct Error {
        QString message;
    };
    explicit Result(Error error) : m_data(std::in_place_index<1>, std::move(error)) {}
    std::variant<T, Error> m_data;
};
