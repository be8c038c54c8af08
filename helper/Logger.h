// The helper's three process-wide loggers (subsystem "dev.kestrelbay"; categories
// "listener", "service", "operations"), created lazily on first use. Lines go to journald
// at notice (default), err (error) or crit (fault) priority. Thread-safe.
//
// Tests replace the destination with setLogSink to capture lines.
//
// Text that a client chose (paths, names) goes into a message only through escapeForLog,
// so that it can neither forge a line nor hide one.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kb {

enum class LogLevel { standard, error, fault };

// Extra journald fields of a line, {NAME, value} in order; values are sent as raw bytes.
using LogFields = std::vector<std::pair<std::string, std::string>>;

struct LogRecord {
    std::string category;
    LogLevel level = LogLevel::standard;
    std::string message;
    LogFields fields = {};
    bool operator==(const LogRecord&) const = default;
};

// `text` made safe for one log line: a backslash becomes "\\", a line feed "\n", a tab
// "\t", any other control character (C0, DEL, C1) and any byte that is not part of valid
// UTF-8 "\xHH"; the result is valid UTF-8 and reads back unambiguously. Text over
// maximumLoggedBytes bytes is cut there and marked with "...[N bytes, cut]".
inline constexpr std::size_t maximumLoggedBytes = 4096;
std::string escapeForLog(std::string_view text);

class Logger {
  public:
    explicit Logger(std::string category) : category_(std::move(category)) {}

    void log(LogLevel level, std::string_view message, const LogFields& fields = {}) const;
    void notice(std::string_view message) const { log(LogLevel::standard, message); }
    void error(std::string_view message) const { log(LogLevel::error, message); }
    void fault(std::string_view message) const { log(LogLevel::fault, message); }

  private:
    std::string category_;
};

inline constexpr std::string_view logSubsystem = "dev.kestrelbay";

const Logger& listenerLogger();
const Logger& serviceLogger();
const Logger& operationsLogger();

using LogSink = std::function<void(const LogRecord&)>;

// Sends every line to `sink` instead of journald; an empty sink restores journald.
void setLogSink(LogSink sink);

}  // namespace kb
