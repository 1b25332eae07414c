#pragma once

#include <QString>

#include <utility>
#include <variant>

// Why a call failed, in words a user can act on (for a file: which file, and the reason).
struct Failure
{
    QString message;
};

// The value of a fallible call, or the failure that kept it from being had: the one way
// the program's calls report failure. A function returns its value or Failure{message};
// the caller tests the result and reads value() or error().
template<typename T>
class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {}
    Result(Failure failure)
        : m_state(std::in_place_index<1>, std::move(failure.message))
    {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_state); }
    T value() && { return std::get<0>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }
    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }
    // Empty when the call succeeded.
    QString error() const { return ok() ? QString() : std::get<1>(m_state); }

private:
    std::variant<T, QString> m_state;
};

template<>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure)
        : m_error(std::move(failure.message))
        , m_failed(true)
    {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    // Empty when the call succeeded.
    QString error() const { return m_error; }

private:
    QString m_error;
    bool m_failed = false;
};

// The text that names a file a user must look at: what failed, the file and the reason.
inline QString fileProblem(const QString &whatFailed, const QString &path, const QString &reason)
{
    return QStringLiteral("%1\n\nFile: %2\nReason: %3").arg(whatFailed, path, reason);
}
