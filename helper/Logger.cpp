#include "helper/Logger.h"

#include <mutex>
#include <string>

#include "platform/Journal.h"

namespace kb {
namespace {

std::mutex sinkMutex;
LogSink& currentSink() {
    static LogSink sink;
    return sink;
}

JournalPriority priorityOf(LogLevel level) {
    switch (level) {
        case LogLevel::standard:
            return JournalPriority::notice;
        case LogLevel::error:
            return JournalPriority::err;
        case LogLevel::fault:
            return JournalPriority::crit;
    }
    return JournalPriority::notice;
}

// The length of the valid UTF-8 sequence of two bytes or more at the start of `text`, or 0.
std::size_t multibyteLength(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const auto continues = [&](std::size_t i, unsigned low, unsigned high) {
        return byte(i) >= low && byte(i) <= high;
    };
    const unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF) {
        return continues(1, 0x80, 0xBF) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) && continues(3, 0x80, 0xBF) ? 4
                                                                                               : 0;
    }
    return 0;
}

void appendHex(std::string& out, unsigned char byte) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
}

}  // namespace

std::string escapeForLog(std::string_view text) {
    const bool cut = text.size() > maximumLoggedBytes;
    const std::string_view kept = cut ? text.substr(0, maximumLoggedBytes) : text;
    std::string out;
    out.reserve(kept.size());
    std::size_t i = 0;
    while (i < kept.size()) {
        const auto byte = static_cast<unsigned char>(kept[i]);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            appendHex(out, byte);
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
        } else if (const std::size_t length = multibyteLength(kept.substr(i)); length == 0) {
            appendHex(out, byte);
        } else if (byte == 0xC2 && static_cast<unsigned char>(kept[i + 1]) < 0xA0) {
            // U+0080 to U+009F: C1 control characters, which some terminals obey.
            appendHex(out, byte);
            appendHex(out, static_cast<unsigned char>(kept[i + 1]));
            i += 2;
            continue;
        } else {
            out.append(kept.substr(i, length));
            i += length;
            continue;
        }
        ++i;
    }
    if (cut) {
        out += "...[" + std::to_string(text.size()) + " bytes, cut]";
    }
    return out;
}

namespace {

// The last guard against a forged line: whatever a caller forgot to escape, no control
// character reaches the message. Text escaped with escapeForLog passes unchanged.
std::string oneLine(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            appendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

void Logger::log(LogLevel level, std::string_view message, const LogFields& fields) const {
    const std::string line = oneLine(message);
    {
        std::lock_guard lock(sinkMutex);
        if (const auto& sink = currentSink()) {
            sink(LogRecord{category_, level, line, fields});
            return;
        }
    }
    journalSend(priorityOf(level), logSubsystem, category_, line, fields);
}

const Logger& listenerLogger() {
    static const Logger logger("listener");
    return logger;
}

const Logger& serviceLogger() {
    static const Logger logger("service");
    return logger;
}

const Logger& operationsLogger() {
    static const Logger logger("operations");
    return logger;
}

void setLogSink(LogSink sink) {
    std::lock_guard lock(sinkMutex);
    currentSink() = std::move(sink);
}

}  // namespace kb
