#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include <QString>

#include "rules/convert/fault.h"

// What an operation that can fail gives back: its value, or the reason it
// failed (a line for the operator, or a richer type such as the history's
// failure with its kind). The store, the export, the trends' reading of the
// history and the readers of the configuration files all answer this way;
// a caller at the edge turns the reason into its report line or status
// text. The procedures that trap a Fault and report one line, or skip a
// failing step and go on (attempt), keep their own way.
//
//   Result<int> r = parse(text);
//   if (!r)
//       return failure(r.reason());
//   use(*r);
template <typename Reason>
struct Failure
{
    Reason reason;
};

// The failure with this reason, for a return statement of any Result.
template <typename Reason>
Failure<std::decay_t<Reason>> failure(Reason &&reason)
{
    return {std::forward<Reason>(reason)};
}

template <typename T, typename Reason = QString>
class [[nodiscard]] Result
{
public:
    Result(const T &value)
        : m_state(std::in_place_index<0>, value)
    {
    }
    Result(T &&value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    template <typename Other, typename = std::enable_if_t<std::is_constructible_v<Reason, Other>>>
    Result(Failure<Other> failed)
        : m_state(std::in_place_index<1>, Reason(std::move(failed.reason)))
    {
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    // The value; only for a result that is ok().
    const T &value() const & { return std::get<0>(m_state); }
    T &value() & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    T &operator*() & { return value(); }
    T &&operator*() && { return std::move(*this).value(); }
    const T *operator->() const { return &value(); }
    T *operator->() { return &value(); }

    // Why it failed; only for a result that is not ok().
    const Reason &reason() const { return std::get<1>(m_state); }
    // The same failure, for a result of another value type.
    Failure<Reason> failed() const { return {reason()}; }

private:
    std::variant<T, Reason> m_state;
};

// An operation that gives nothing back but may fail. Made from {} it has
// succeeded.
template <typename Reason>
class [[nodiscard]] Result<void, Reason>
{
public:
    Result() = default;
    template <typename Other, typename = std::enable_if_t<std::is_constructible_v<Reason, Other>>>
    Result(Failure<Other> failed)
        : m_reason(Reason(std::move(failed.reason)))
    {
    }

    bool ok() const { return !m_reason.has_value(); }
    explicit operator bool() const { return ok(); }
    const Reason &reason() const { return *m_reason; }
    Failure<Reason> failed() const { return {reason()}; }

private:
    std::optional<Reason> m_reason;
};

// Runs a conversion that raises a Fault (the conversions serve the
// trap-and-report procedures, which catch it) and gives its outcome as a
// Result, the Fault's description as the reason.
template <typename Step>
auto faultToResult(Step &&step) -> Result<decltype(step())>
{
    try {
        if constexpr (std::is_void_v<decltype(step())>) {
            step();
            return {};
        } else {
            return step();
        }
    } catch (const Fault &fault) {
        return failure(QString::fromLatin1(fault.what()));
    }
}
