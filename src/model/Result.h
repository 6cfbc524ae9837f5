#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace ResultText {
// The user text of an error: a plain text is its own message, every error type has message().
inline const QString& of(const QString& error) { return error; }
template <typename E> QString of(const E& error) { return error.message(); }
} // namespace ResultText

// A value or the error that stopped it. Every function that can fail returns this (nothing is
// thrown across module boundaries); message() is the text shown to the user whatever E is
// (empty for a success, so it can go into a log line unchecked).
template <typename T, typename E = QString> class [[nodiscard]] Result {
public:
    Result(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    static Result failure(E error) { return Result(Failed{}, std::move(error)); }

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(m_data); }
    T& value() & { return std::get<0>(m_data); }
    T&& value() && { return std::get<0>(std::move(m_data)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }
    const E& error() const { return std::get<1>(m_data); }
    QString message() const { return ok() ? QString() : ResultText::of(error()); }

private:
    struct Failed {};
    Result(Failed, E error) : m_data(std::in_place_index<1>, std::move(error)) {}
    std::variant<T, E> m_data;
};

// Success or the error: a default-constructed one is a success. Deliberately no conversion to
// bool: `if (!write(...))` meant "no error" when errors came as optionals, and such a line
// (from older code or another branch) must not compile into the opposite meaning.
template <typename E> class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    static Result success() { return Result(); }
    static Result failure(E error) { return Result(std::move(error)); }

    bool ok() const { return !m_error.has_value(); }
    const E& error() const { return *m_error; }
    QString message() const { return ok() ? QString() : ResultText::of(error()); }
    friend bool operator==(const Result&, const Result&) = default;

private:
    explicit Result(E error) : m_error(std::move(error)) {}
    std::optional<E> m_error;
};
