// JSON forms derived from one field list: a record described with BOOST_DESCRIBE_STRUCT and
// an enumeration described with BOOST_DESCRIBE_ENUM get their Codec here, so that their
// fields and raw values are written down once, in the type's own header.
//
//  - A described record is an object keyed by member name, built with FieldReader and
//    FieldWriter: a std::optional member is an optional field (omitted when absent, read as
//    absent when missing or null), every other member a required one. Every member must be
//    described, in declaration order: decoding builds the record member-wise in that order.
//  - A described enumeration is a string, its raw value the case name; an unknown text fails
//    with "NAME: unknown value \"TEXT\"".
//
// NAME, in decoding errors, is the C++ name without the namespace kb, nested names joined
// by "." ("LaunchItem.Kind").
#pragma once

#include <boost/core/type_name.hpp>
#include <boost/describe/class.hpp>
#include <boost/describe/enum.hpp>
#include <boost/describe/enum_to_string.hpp>
#include <boost/describe/enumerators.hpp>
#include <boost/describe/members.hpp>
#include <boost/mp11/algorithm.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/Hashing.h"
#include "json/JsonCodec.h"

namespace kb {

template <class E>
concept DescribedEnum = std::is_enum_v<E> && boost::describe::has_describe_enumerators<E>::value;

// The case name of a described enumeration; empty for a value that is no case.
template <DescribedEnum E>
std::string_view rawValue(E value) {
    return boost::describe::enum_to_string(value, "");
}

// The case whose name is exactly `raw`; nothing for any other text (case matters).
template <DescribedEnum E>
std::optional<E> fromRawValue(std::string_view raw) {
    std::optional<E> found;
    boost::mp11::mp_for_each<boost::describe::describe_enumerators<E>>([&](auto d) {
        if (!found && raw == d.name) {
            found = d.value;
        }
    });
    return found;
}

}  // namespace kb

namespace kb::json {

template <class T>
std::string_view nameOf() {
    static const std::string name = [] {
        std::string text = boost::core::type_name<T>();
        for (const std::string_view prefix : {"kb::", "(anonymous namespace)::"}) {
            if (text.starts_with(prefix)) {
                text.erase(0, prefix.size());
            }
        }
        // Built afresh rather than replaced in place: GCC 12 sees a false overlap in
        // std::string::replace at -O2 (-Wrestrict).
        std::string dotted;
        dotted.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "::") == 0) {
                dotted += '.';
                ++i;
            } else {
                dotted += text[i];
            }
        }
        return dotted;
    }();
    return name;
}

namespace detail {
template <class T, class Member>
using MemberType = std::remove_cvref_t<decltype(std::declval<const T&>().*Member::pointer)>;

template <class T, class Member>
auto readMember(const FieldReader& reader) {
    using M = MemberType<T, Member>;
    if constexpr (kb::detail::IsOptional<M>::value) {
        return reader.optional<typename M::value_type>(Member::name);
    } else {
        return reader.required<M>(Member::name);
    }
}

template <class T, template <class...> class List, class... Members>
T readRecord(const FieldReader& reader, List<Members...>) {
    return T{readMember<T, Members>(reader)...};
}
}  // namespace detail

template <DescribedEnum E>
struct Codec<E> {
    static boost::json::value encode(E value) { return boost::json::string(rawValue(value)); }
    static void write(JsonWriter& writer, E value) { writer.string(rawValue(value)); }
    static E decode(const boost::json::value& value) {
        const std::string_view text = expectString(value, nameOf<E>());
        if (auto found = fromRawValue<E>(text)) {
            return *found;
        }
        failDecode(std::string(nameOf<E>()) + ": unknown value \"" + std::string(text) + "\"");
    }
};

template <DescribedRecord T>
struct Codec<T> {
    using Members = boost::describe::describe_members<T, boost::describe::mod_public>;

    static boost::json::value encode(const T& value) {
        FieldWriter writer;
        boost::mp11::mp_for_each<Members>([&](auto member) {
            const auto& field = value.*member.pointer;
            using M = std::remove_cvref_t<decltype(field)>;
            if constexpr (kb::detail::IsOptional<M>::value) {
                writer.optional(member.name, field);
            } else {
                writer.field(member.name, field);
            }
        });
        return writer.value();
    }
    static T decode(const boost::json::value& value) {
        const FieldReader reader(value, nameOf<T>());
        return detail::readRecord<T>(reader, Members{});
    }
};

}  // namespace kb::json
