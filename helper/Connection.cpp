#include "helper/Connection.h"

#include <fmt/format.h>

#include <asio/bind_executor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include "helper/Logger.h"

namespace kb {

std::shared_ptr<Connection> Connection::start(Socket socket, HelperService service, Limits limits,
                                              std::function<void()> onClosed) {
    auto connection = std::make_shared<Connection>(std::move(socket), std::move(service), limits,
                                                   std::move(onClosed));
    asio::post(connection->strand_, [connection] { connection->readMore(); });
    return connection;
}

Connection::Connection(Socket socket, HelperService service, Limits limits,
                       std::function<void()> onClosed)
    : strand_(asio::make_strand(socket.get_executor())),
      socket_(std::move(socket)),
      service_(std::move(service)),
      limits_(limits),
      onClosed_(std::move(onClosed)),
      partialFrameTimer_(strand_) {}

void Connection::readMore() {
    if (closed_ || stopReading_ || reading_ || inFlight_ >= limits_.maximumInFlight) {
        return;
    }
    reading_ = true;
    armPartialFrameTimer();
    socket_.async_read_some(
        asio::buffer(readBuffer_),
        asio::bind_executor(strand_,
                            [self = shared_from_this()](const std::error_code& error, size_t size) {
                                self->onRead(error, size);
                            }));
}

void Connection::onRead(const std::error_code& error, size_t size) {
    reading_ = false;
    if (closed_) {
        return;
    }
    if (error) {
        // End of stream or a reset: replies to calls already read still go out if they can.
        closeAfterDrain();
        return;
    }
    reader_.append(readBuffer_.data(), size);
    processFrames();
    readMore();
}

void Connection::processFrames() {
    while (!closed_ && !stopReading_ && inFlight_ < limits_.maximumInFlight) {
        auto body = reader_.next();
        if (!body) {
            listenerLogger().error(
                fmt::format("closing a connection that sent {}", describe(body.error())));
            closeAfterDrain();
            return;
        }
        if (!body->has_value()) {
            return;
        }
        auto call = WireFraming::decodeCall(**body);
        if (!call) {
            listenerLogger().error(
                fmt::format("closing a connection that sent {}", describe(call.error())));
            closeAfterDrain();
            return;
        }
        handleCall(std::move(*call));
    }
}

void Connection::handleCall(WireFraming::Call call) {
    ++inFlight_;
    if (call.selector == WireFraming::Selector::getVersion) {
        queueReply(WireFraming::encodeVersionReply(call.id, service_.getVersion()), {});
        return;
    }
    // Until the job's reply is posted back, the guard keeps the executor from running out
    // of work while nothing else is pending on it. The reply runs once; it hands its
    // references on, so a finished job holds nothing of the connection.
    auto work =
        std::make_shared<asio::executor_work_guard<asio::any_io_executor>>(socket_.get_executor());
    service_.perform(
        std::move(call.request), [self = shared_from_this(), id = call.id, work](
                                     std::string response, std::function<void()> written) mutable {
            auto connection = std::move(self);
            auto guard = std::move(work);
            std::string frame = WireFraming::encodeResponseReply(id, response);
            auto& strand = connection->strand_;
            asio::post(strand, [connection = std::move(connection), frame = std::move(frame),
                                written = std::move(written)]() mutable {
                connection->queueReply(std::move(frame), std::move(written));
            });
            guard->reset();
        });
}

void Connection::queueReply(std::string frame, std::function<void()> written) {
    writes_.push_back({std::move(frame), std::move(written)});
    if (closed_) {
        // The client is gone; the call still counts out.
        for (auto& w : writes_) {
            if (w.written) {
                w.written();
            }
            --inFlight_;
        }
        writes_.clear();
        return;
    }
    if (writing_.empty()) {
        writeNext();
    }
}

void Connection::writeNext() {
    if (writes_.empty()) {
        finishIfDrained();
        return;
    }
    // Everything queued goes out in one gathered write.
    std::vector<asio::const_buffer> buffers;
    while (!writes_.empty() && buffers.size() < 64) {
        writing_.push_back(std::move(writes_.front()));
        writes_.pop_front();
        buffers.push_back(asio::buffer(writing_.back().frame));
    }
    asio::async_write(socket_, buffers,
                      asio::bind_executor(strand_, [self = shared_from_this()](
                                                       const std::error_code& error, size_t) {
                          auto done = std::move(self->writing_);
                          self->writing_.clear();
                          for (auto& w : done) {
                              if (w.written) {
                                  w.written();
                              }
                              --self->inFlight_;
                          }
                          if (error) {
                              self->closeNow();
                              return;
                          }
                          self->writeNext();
                          self->processFrames();
                          self->readMore();
                      }));
}

void Connection::armPartialFrameTimer() {
    if (!reader_.holdsPartialFrame()) {
        partialFrameTimer_.cancel();
        return;
    }
    partialFrameTimer_.expires_after(limits_.partialFrameTimeout);
    partialFrameTimer_.async_wait(
        asio::bind_executor(strand_, [self = shared_from_this()](const std::error_code& error) {
            if (error || self->closed_ || !self->reading_) {
                return;
            }
            listenerLogger().error("closing a connection that left a frame unfinished");
            self->closeAfterDrain();
        }));
}

void Connection::closeAfterDrain() {
    stopReading_ = true;
    partialFrameTimer_.cancel();
    if (reading_) {
        // Stop the pending read without closing the descriptor: replies still go out.
        std::error_code ignored;
        socket_.shutdown(Socket::shutdown_receive, ignored);
    }
    finishIfDrained();
}

void Connection::finishIfDrained() {
    if (stopReading_ && !closed_ && inFlight_ == 0 && writes_.empty() && writing_.empty()) {
        closeNow();
    }
}

void Connection::closeNow() {
    if (closed_) {
        return;
    }
    closed_ = true;
    partialFrameTimer_.cancel();
    std::error_code ignored;
    socket_.close(ignored);
    for (auto& w : writes_) {
        if (w.written) {
            w.written();
        }
        --inFlight_;
    }
    writes_.clear();
    if (onClosed_) {
        std::exchange(onClosed_, {})();
    }
}

}  // namespace kb
