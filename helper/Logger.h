// The helper's three process-wide loggers (subsystem "dev.kestrelbay"; categories
// "listener", "service", "operations"), created lazily on first use. Lines go to journald
// at notice (default), err (error) or crit (fault) priority. Thread-safe.
//
// Tests replace the destination with setLogSink to capture lines.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kb {

enum class LogLevel { standard, error, fault };

struct LogRecord {
    std::string category;
    LogLevel level = LogLevel::standard;
    std::string message;
    bool operator==(const LogRecord&) const = default;
};

class Logger {
  public:
    explicit Logger(std::string category) : category_(std::move(category)) {}

    void log(LogLevel level, std::string_view message) const;
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
