// Hashing of values field by field, one idiom for the whole tree.
//
// hashCombine(seed, v) mixes v into seed; order matters. hashOf(a, b, c) hashes values in
// order. How a value is mixed: a list its length and then each element, an optional whether
// it holds a value and then the value, a variant its index and then the alternative, a time
// point its tick count, a record described with BOOST_DESCRIBE_STRUCT every member in
// declaration order, an enumeration its underlying value; anything else through std::hash.
//
// A described record gets its std::hash in one line:
//     template <> struct std::hash<kb::Foo> : kb::MemberHash<kb::Foo> {};
#pragma once

#include <boost/describe/members.hpp>
#include <boost/mp11/algorithm.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <type_traits>
#include <variant>
#include <vector>

namespace kb {
namespace detail {
template <class T>
struct IsRange : std::false_type {};
template <class T>
struct IsRange<std::vector<T>> : std::true_type {};
template <class T>
struct IsRange<std::set<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsVariant : std::false_type {};
template <class... T>
struct IsVariant<std::variant<T...>> : std::true_type {};
template <class T>
struct IsTimePoint : std::false_type {};
template <class Clock, class Duration>
struct IsTimePoint<std::chrono::time_point<Clock, Duration>> : std::true_type {};

inline void mixRaw(std::size_t& seed, std::size_t hash) {
    seed ^= hash + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
}  // namespace detail

// A class whose members are listed with BOOST_DESCRIBE_STRUCT.
template <class T>
concept DescribedRecord = std::is_class_v<T> && boost::describe::has_describe_members<T>::value;

template <class T>
void hashCombine(std::size_t& seed, const T& value) {
    if constexpr (detail::IsRange<T>::value) {
        detail::mixRaw(seed, value.size());
        for (const auto& element : value) {
            hashCombine(seed, element);
        }
    } else if constexpr (detail::IsOptional<T>::value) {
        detail::mixRaw(seed, value.has_value());
        if (value) {
            hashCombine(seed, *value);
        }
    } else if constexpr (detail::IsVariant<T>::value) {
        detail::mixRaw(seed, value.index());
        std::visit([&seed](const auto& alternative) { hashCombine(seed, alternative); }, value);
    } else if constexpr (detail::IsTimePoint<T>::value) {
        detail::mixRaw(seed, std::hash<typename T::rep>{}(value.time_since_epoch().count()));
    } else if constexpr (std::is_enum_v<T>) {
        detail::mixRaw(seed, std::hash<std::underlying_type_t<T>>{}(
                                 static_cast<std::underlying_type_t<T>>(value)));
    } else if constexpr (DescribedRecord<T>) {
        using Members = boost::describe::describe_members<T, boost::describe::mod_any_access>;
        boost::mp11::mp_for_each<Members>(
            [&](auto member) { hashCombine(seed, value.*member.pointer); });
    } else {
        detail::mixRaw(seed, std::hash<T>{}(value));
    }
}

template <class... Values>
std::size_t hashOf(const Values&... values) {
    std::size_t seed = 0;
    (hashCombine(seed, values), ...);
    return seed;
}

template <DescribedRecord T>
struct MemberHash {
    std::size_t operator()(const T& value) const { return hashOf(value); }
};

}  // namespace kb
