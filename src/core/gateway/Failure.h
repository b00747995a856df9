#pragma once

#include "core/gateway/GatewayError.h"

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// Why a gateway request, its decoding or an action failed. Carries the
// user-facing text; loaders publish it, actions hand it to their callers.
class Failure {
public:
    enum class Kind {
        Gateway, // a non-2xx reply (gatewayError() holds it)
        Tolvarine, // the application's own errors: -1 bad address / no workspace, -2 no gateway / not text
        Transport, // no connection, time-out, cancellation
        Decoding, // a 2xx reply whose body has another shape
    };

    static Failure gateway(const GatewayError& error);
    static Failure tolvarine(int code, const QString& description);
    static Failure transport(const QString& description);
    // A request that went out and got no whole answer (a time-out, the
    // connection closed mid-way): the gateway may have carried it out.
    static Failure unanswered(const QString& description);
    static Failure decoding(const QString& description);

    Kind kind() const { return m_kind; }
    // The HTTP status for a gateway error, the application's code for its own errors, else 0.
    int code() const { return m_code; }
    QString description() const;
    const std::optional<GatewayError>& gatewayError() const { return m_gateway; }
    std::optional<QString> advice() const;
    // Whether the request may have been carried out all the same (see unanswered()).
    bool outcomeUnknown() const { return m_unanswered; }

    bool operator==(const Failure&) const = default;

private:
    Kind m_kind = Kind::Tolvarine;
    int m_code = 0;
    bool m_unanswered = false;
    QString m_description;
    std::optional<GatewayError> m_gateway;
};

// A value or the failure that kept it from being produced.
template <typename T = std::monostate> class Result {
public:
    // A success holding T's empty value (for Result<> simply a success).
    Result() = default;
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Failure failure)
        : m_value(std::move(failure))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_value); }
    T& value() { return std::get<T>(m_value); }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }
    const Failure& failure() const { return std::get<Failure>(m_value); }

private:
    std::variant<T, Failure> m_value;
};
