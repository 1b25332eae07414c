#pragma once

#include <QString>

#include <utility>
#include <variant>

// Why a call failed, in words a user can act on (for a file: which file, and the reason),
// and of what kind, so that callers decide on the kind and never on the words.
//
// src/sqlite keeps SQLite's own idiom (bool results and errorMessage()) on purpose: it is a
// thin wrapper over the C API, and the core turns its failures into these.
struct Failure
{
    enum class Kind {
        Usage,    // the caller asked for something that cannot be: a wrong argument or state
        Input,    // a file or value from outside cannot be read or used
        Database, // the address book cannot be opened, read or written
        Server,   // a server could not be reached, or answered with a failure
        Refused,  // a guard stopped work that would have done great harm, before it began
    };

    QString message;
    Kind kind = Kind::Input;
    int httpStatus = 0; // for Server: the HTTP status, where the server answered

    static Failure usage(QString message) { return {std::move(message), Kind::Usage}; }
    static Failure input(QString message) { return {std::move(message), Kind::Input}; }
    static Failure database(QString message) { return {std::move(message), Kind::Database}; }
    static Failure refused(QString message) { return {std::move(message), Kind::Refused}; }
    static Failure server(QString message, int httpStatus = 0)
    {
        return {std::move(message), Kind::Server, httpStatus};
    }
};

// The value of a fallible call, or the failure that kept it from being had: the one way
// the program's calls report failure. A function returns its value or a Failure; the caller
// tests the result and reads value(), or error() for the message and failure() to pass it on.
template<typename T>
class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {}
    Result(Failure failure)
        : m_state(std::in_place_index<1>, std::move(failure))
    {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_state); }
    T value() && { return std::get<0>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }
    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }
    // Empty when the call succeeded.
    QString error() const { return ok() ? QString() : std::get<1>(m_state).message; }
    // Only when the call failed.
    const Failure &failure() const { return std::get<1>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

template<>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure)
        : m_failure(std::move(failure))
        , m_failed(true)
    {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    // Empty when the call succeeded.
    QString error() const { return m_failure.message; }
    // Only when the call failed.
    const Failure &failure() const { return m_failure; }

private:
    Failure m_failure;
    bool m_failed = false;
};

// The text that names a file a user must look at: what failed, the file and the reason.
inline QString fileProblem(const QString &whatFailed, const QString &path, const QString &reason)
{
    return QStringLiteral("%1\n\nFile: %2\nReason: %3").arg(whatFailed, path, reason);
}
