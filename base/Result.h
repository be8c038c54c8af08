// A small value-or-error type. Library code returns it instead of throwing.
//
// Result<T, E> holds either a T (success) or an E (failure). Reading the wrong side is a
// programming error and aborts in debug builds. Result<void, E> carries only the error.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace kb {

template <class E>
struct Failure {
    E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
    return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
  public:
    Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    requires std::is_convertible_v<F, E> Result(Failure<F> failure)
        : storage_(std::in_place_index<1>, std::move(failure.error)) {}

    bool ok() const { return storage_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(storage_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(storage_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(storage_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const& {
        assert(!ok());
        return std::get<1>(storage_);
    }
    E&& error() && {
        assert(!ok());
        return std::get<1>(std::move(storage_));
    }

  private:
    std::variant<T, E> storage_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
  public:
    Result() = default;
    template <class F>
    requires std::is_convertible_v<F, E> Result(Failure<F> failure)
        : error_(E(std::move(failure.error))), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const E& error() const {
        assert(failed_);
        return error_;
    }

  private:
    E error_{};
    bool failed_ = false;
};

}  // namespace kb
