#pragma once

#include <QString>
#include <optional>
#include <utility>

namespace zp {

// The reason an operation failed, in words for a log or a test; converts to
// any Result.
struct Failure {
    QString error;
};

// The outcome of an operation that can fail: a value, or the reason it could
// not be had. Result<void> is the outcome of an operation without a value.
//
//     Result<std::string> read(...);
//     if (const auto xml = read(...); !xml)
//         return Failure { u"styles: "_s + xml.error() };
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Failure failure)
        : m_error(std::move(failure.error))
    {
    }

    explicit operator bool() const { return m_value.has_value(); }

    T& value() & { return *m_value; }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    T& operator*() & { return *m_value; }
    const T& operator*() const& { return *m_value; }
    // On a smart pointer, -> reaches the object it points to.
    decltype(auto) operator->()
    {
        if constexpr (requires(T & t) { t.operator->(); })
            return (*m_value);
        else
            return &*m_value;
    }
    decltype(auto) operator->() const
    {
        if constexpr (requires(const T& t) { t.operator->(); })
            return (*m_value);
        else
            return &*m_value;
    }

    // Why it failed; empty on success.
    const QString& error() const { return m_error; }

private:
    std::optional<T> m_value;
    QString m_error;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure)
        : m_failed(true)
        , m_error(std::move(failure.error))
    {
    }

    explicit operator bool() const { return !m_failed; }
    const QString& error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};

} // namespace zp
