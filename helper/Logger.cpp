#include "helper/Logger.h"

#include <mutex>

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

}  // namespace

void Logger::log(LogLevel level, std::string_view message) const {
    {
        std::lock_guard lock(sinkMutex);
        if (const auto& sink = currentSink()) {
            sink(LogRecord{category_, level, std::string(message)});
            return;
        }
    }
    journalSend(priorityOf(level), logSubsystem, category_, message);
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
