#pragma once

#include "util/Failure.h"

#include <QString>
#include <optional>
#include <utility>

namespace zp {

// The outcome of an operation that can fail: a value, or the Failure that
// says why it could not be had. Result<void> is the outcome of an operation
// without a value. A failure is handed up with what the caller was doing:
//
//     Result<std::string> xml = read(...);
//     if (!xml)
//         return std::move(xml).failure().within(u"styles"_s);
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Failure failure)
        : m_failure(std::move(failure))
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

    // Why it failed; only when it did.
    const Failure& failure() const& { return *m_failure; }
    Failure failure() && { return std::move(*m_failure); }
    // The failure's detail; empty on success.
    QString error() const { return m_failure ? m_failure->detail() : QString(); }

private:
    std::optional<T> m_value;
    std::optional<Failure> m_failure;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure)
        : m_failure(std::move(failure))
    {
    }

    explicit operator bool() const { return !m_failure; }
    const Failure& failure() const& { return *m_failure; }
    Failure failure() && { return std::move(*m_failure); }
    QString error() const { return m_failure ? m_failure->detail() : QString(); }

private:
    std::optional<Failure> m_failure;
};

} // namespace zp
