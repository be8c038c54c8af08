#include "CleanerCore/process/ProcessOutput.h"

namespace kb {

std::string decodeUtf8Lossy(std::string_view bytes) {
    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // Continuation count and the range the first continuation byte must fall in; the
        // narrowed ranges exclude overlong forms, surrogates and values above U+10FFFF.
        int need = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead == 0xE0) {
            need = 2, low = 0xA0;
        } else if (lead == 0xED) {
            need = 2, high = 0x9F;
        } else if (lead >= 0xE1 && lead <= 0xEF) {
            need = 2;
        } else if (lead == 0xF0) {
            need = 3, low = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            need = 3;
        } else if (lead == 0xF4) {
            need = 3, high = 0x8F;
        } else {
            text += replacement;
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool complete = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= bytes.size()) {
                complete = false;
                break;
            }
            const auto next = static_cast<unsigned char>(bytes[j]);
            if (next < low || next > high) {
                complete = false;
                break;
            }
            low = 0x80, high = 0xBF;
        }
        if (complete) {
            text.append(bytes.substr(i, j - i));
        } else {
            text += replacement;
        }
        i = j;
    }
    return text;
}

std::string ProcessOutput::stdoutText() const {
    return decodeUtf8Lossy(stdoutBytes);
}

std::string ProcessOutput::stderrText() const {
    return decodeUtf8Lossy(stderrBytes);
}

}  // namespace kb
