#include "json/JsonCodec.h"

#include <boost/json/parse.hpp>
#include <boost/json/parse_options.hpp>

namespace kb::json {

void failDecode(std::string message) {
    throw DecodeFailure{std::move(message)};
}

const boost::json::object& expectObject(const boost::json::value& value, std::string_view what) {
    if (!value.is_object()) {
        failDecode(std::string(what) + ": expected an object");
    }
    return value.get_object();
}

const boost::json::array& expectArray(const boost::json::value& value, std::string_view what) {
    if (!value.is_array()) {
        failDecode(std::string(what) + ": expected an array");
    }
    return value.get_array();
}

bool Codec<bool>::decode(const boost::json::value& value) {
    if (!value.is_bool()) {
        failDecode("expected a boolean");
    }
    return value.get_bool();
}

double Codec<double>::decode(const boost::json::value& value) {
    if (value.is_double()) {
        return value.get_double();
    }
    if (value.is_int64()) {
        return static_cast<double>(value.get_int64());
    }
    if (value.is_uint64()) {
        return static_cast<double>(value.get_uint64());
    }
    failDecode("expected a number");
}

std::string_view expectString(const boost::json::value& value, std::string_view what) {
    if (!value.is_string()) {
        failDecode(std::string(what) + (what.empty() ? "" : ": ") + "expected a string");
    }
    const auto& text = value.get_string();
    return std::string_view(text.data(), text.size());
}

std::string Codec<std::string>::decode(const boost::json::value& value) {
    return std::string(expectString(value, {}));
}

FieldReader::FieldReader(const boost::json::value& value, std::string_view what)
    : object_(&expectObject(value, what)), what_(what) {}

const boost::json::value* FieldReader::find(std::string_view key) const {
    return object_->if_contains(key);
}

CaseView caseOf(const boost::json::value& value, std::initializer_list<std::string_view> caseNames,
                std::string_view what) {
    const auto& object = expectObject(value, what);
    CaseView found{};
    int count = 0;
    for (const auto& name : caseNames) {
        if (const auto* body = object.if_contains(name)) {
            found = CaseView{name, body};
            ++count;
        }
    }
    if (count != 1) {
        failDecode(std::string(invalidNumberOfKeysMessage));
    }
    expectObject(*found.body, std::string(what) + "." + std::string(found.name));
    return found;
}

boost::json::value makeCase(std::string_view name, boost::json::object body) {
    boost::json::object outer;
    outer[name] = std::move(body);
    return outer;
}

boost::json::value parseWritten(const std::string& text) {
    auto parsed = parse(text);
    if (!parsed) {
        throw std::runtime_error(parsed.error().message);
    }
    return std::move(parsed).value();
}

Result<boost::json::value, DecodeError> parse(std::string_view bytes,
                                              boost::json::storage_ptr storage) {
    boost::json::parse_options options;
    options.max_depth = 64;
    boost::system::error_code ec;
    boost::json::value value = boost::json::parse(bytes, ec, std::move(storage), options);
    if (ec) {
        return fail(DecodeError{"invalid JSON: " + ec.message()});
    }
    return value;
}

}  // namespace kb::json
