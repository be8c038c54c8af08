#include "HelperProtocol/JsonSerializer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace kb::json {
namespace {

class Writer {
  public:
    explicit Writer(JsonStyle style) : style_(style) {}

    bool write(const boost::json::value& value, int depth) {
        switch (value.kind()) {
            case boost::json::kind::null:
                out_ += "null";
                return true;
            case boost::json::kind::bool_:
                out_ += value.get_bool() ? "true" : "false";
                return true;
            case boost::json::kind::int64:
                appendNumber(value.get_int64());
                return true;
            case boost::json::kind::uint64:
                appendNumber(value.get_uint64());
                return true;
            case boost::json::kind::double_:
                return appendDouble(value.get_double());
            case boost::json::kind::string:
                appendString(value.get_string());
                return true;
            case boost::json::kind::array:
                return writeArray(value.get_array(), depth);
            case boost::json::kind::object:
                return writeObject(value.get_object(), depth);
        }
        return false;
    }

    std::string take() { return std::move(out_); }

  private:
    bool writeArray(const boost::json::array& array, int depth) {
        out_ += '[';
        bool first = true;
        for (const auto& element : array) {
            if (!first) {
                out_ += ',';
            }
            first = false;
            newline(depth + 1);
            if (!write(element, depth + 1)) {
                return false;
            }
        }
        if (!array.empty()) {
            newline(depth);
        }
        out_ += ']';
        return true;
    }

    bool writeObject(const boost::json::object& object, int depth) {
        std::vector<const boost::json::key_value_pair*> members;
        members.reserve(object.size());
        for (const auto& member : object) {
            members.push_back(&member);
        }
        std::sort(members.begin(), members.end(),
                  [](const auto* a, const auto* b) { return a->key() < b->key(); });
        out_ += '{';
        bool first = true;
        for (const auto* member : members) {
            if (!first) {
                out_ += ',';
            }
            first = false;
            newline(depth + 1);
            appendString(member->key());
            out_ += style_ == JsonStyle::pretty ? " : " : ":";
            if (!write(member->value(), depth + 1)) {
                return false;
            }
        }
        if (!members.empty()) {
            newline(depth);
        }
        out_ += '}';
        return true;
    }

    void newline(int depth) {
        if (style_ != JsonStyle::pretty) {
            return;
        }
        out_ += '\n';
        out_.append(static_cast<size_t>(depth) * 2, ' ');
    }

    template <class Integer>
    void appendNumber(Integer number) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
        out_.append(buffer, end);
    }

    bool appendDouble(double number) {
        if (!std::isfinite(number)) {
            return false;
        }
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
        out_.append(buffer, end);
        return true;
    }

    void appendString(std::string_view text) {
        static constexpr char hex[] = "0123456789abcdef";
        out_ += '"';
        size_t runStart = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const char* escape = nullptr;
            char unicode[7];
            switch (c) {
                case '"':
                    escape = "\\\"";
                    break;
                case '\\':
                    escape = "\\\\";
                    break;
                case '\b':
                    escape = "\\b";
                    break;
                case '\f':
                    escape = "\\f";
                    break;
                case '\n':
                    escape = "\\n";
                    break;
                case '\r':
                    escape = "\\r";
                    break;
                case '\t':
                    escape = "\\t";
                    break;
                case '/':
                    if (style_ == JsonStyle::wire) {
                        escape = "\\/";
                    }
                    break;
                default:
                    if (c < 0x20) {
                        unicode[0] = '\\';
                        unicode[1] = 'u';
                        unicode[2] = '0';
                        unicode[3] = '0';
                        unicode[4] = hex[c >> 4];
                        unicode[5] = hex[c & 0xF];
                        unicode[6] = '\0';
                        escape = unicode;
                    }
                    break;
            }
            if (escape != nullptr) {
                out_.append(text.data() + runStart, i - runStart);
                out_ += escape;
                runStart = i + 1;
            }
        }
        out_.append(text.data() + runStart, text.size() - runStart);
        out_ += '"';
    }

    JsonStyle style_;
    std::string out_;
};

}  // namespace

Result<std::string, EncodeError> serialize(const boost::json::value& value, JsonStyle style) {
    Writer writer(style);
    if (!writer.write(value, 0)) {
        return fail(EncodeError{"a number is not finite"});
    }
    return writer.take();
}

}  // namespace kb::json
