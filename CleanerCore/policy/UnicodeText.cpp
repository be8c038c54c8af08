#include "CleanerCore/policy/UnicodeText.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace kb::UnicodeText {
namespace {

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Maps one piece with utf8proc; nullopt-like empty result is signalled by `ok`.
bool mapPiece(std::string_view piece, utf8proc_option_t options, std::string& out) {
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(piece.data()),
                     static_cast<utf8proc_ssize_t>(piece.size()), &mapped, options);
    if (length < 0) {
        return false;
    }
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    out.append(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
    return true;
}

template <class AsciiMap>
std::string mapByPiece(std::string_view text, utf8proc_option_t options, AsciiMap asciiMap) {
    std::string out;
    out.reserve(text.size());
    if (isAscii(text)) {
        for (const char c : text) {
            out += asciiMap(c);
        }
        return out;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t slash = text.find('/', start);
        const std::size_t end = slash == std::string_view::npos ? text.size() : slash;
        const std::string_view piece = text.substr(start, end - start);
        if (isAscii(piece) || !mapPiece(piece, options, out)) {
            for (const char c : piece) {
                out += asciiMap(c);
            }
        }
        if (slash == std::string_view::npos) {
            break;
        }
        out += '/';
        start = slash + 1;
    }
    return out;
}

bool isLetterMarkOrDigit(utf8proc_int32_t codepoint) {
    switch (utf8proc_category(codepoint)) {
        case UTF8PROC_CATEGORY_LU:
        case UTF8PROC_CATEGORY_LL:
        case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM:
        case UTF8PROC_CATEGORY_LO:
        case UTF8PROC_CATEGORY_MN:
        case UTF8PROC_CATEGORY_MC:
        case UTF8PROC_CATEGORY_ME:
        case UTF8PROC_CATEGORY_ND:
        case UTF8PROC_CATEGORY_NL:
        case UTF8PROC_CATEGORY_NO:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string canonical(std::string_view text) {
    return mapByPiece(text, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE),
                      [](char c) { return c; });
}

std::string folded(std::string_view text) {
    return mapByPiece(
        text,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD),
        asciiLower);
}

std::string lettersMarksAndDigits(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        utf8proc_int32_t codepoint = 0;
        const utf8proc_ssize_t length =
            utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &codepoint);
        if (length <= 0) {
            ++i;  // an invalid byte is no letter
            continue;
        }
        if (isLetterMarkOrDigit(codepoint)) {
            out.append(text.substr(i, static_cast<std::size_t>(length)));
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

bool hasControlCharacters(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return true;
        }
    }
    return false;
}

}  // namespace kb::UnicodeText
