#include "helper/Connection.h"

#include <asio/bind_executor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <charconv>

#include "helper/Logger.h"
#include "platform/Pidfd.h"

namespace kb {
namespace {

// The shortest text that reads back as `seconds` ("30", "0.25").
std::string shortestDecimal(double seconds) {
    char text[32];
    const auto end = std::to_chars(std::begin(text), std::end(text), seconds).ptr;
    return std::string(text, end);
}

}  // namespace

std::shared_ptr<Connection> Connection::start(Socket socket, HelperService service, Limits limits,
                                              std::function<void()> onClosed) {
    auto connection = std::make_shared<Connection>(std::move(socket), std::move(service),
                                                   std::move(limits), std::move(onClosed));
    asio::post(connection->strand_, [connection] { connection->greet(); });
    return connection;
}

Connection::Connection(Socket socket, HelperService service, Limits limits,
                       std::function<void()> onClosed)
    : strand_(asio::make_strand(socket.get_executor())),
      socket_(std::move(socket)),
      service_(std::move(service)),
      limits_(std::move(limits)),
      onClosed_(std::move(onClosed)),
      partialFrameTimer_(strand_),
      replyTimer_(strand_) {}

void Connection::greet() {
    const int fd = socket_.native_handle();
    auto refuse = [this](std::string reason) {
        queueWrite({.frame = WireFraming::encodeGreeting({false, std::move(reason)}),
                    .written = {},
                    .budget = 0,
                    .answersCall = false});
        closeAfterDrain();
    };
    if (auto enabled = UnixSocket::enableSenderCredentials(fd); !enabled) {
        listenerLogger().error("closing a connection whose writers cannot be checked: " +
                               enabled.error().describe());
        refuse("the helper cannot check who writes to this connection");
        return;
    }
    if (UnixSocket::bytesWaiting(fd) > 0) {
        listenerLogger().error(
            "closing a connection that sent " +
            std::string(WireFraming::describe(WireFraming::Violation::bytesBeforeGreeting)));
        refuse("the program wrote to the helper before the helper's greeting");
        return;
    }
    queueWrite({.frame = WireFraming::encodeGreeting({true, {}}),
                .written = {},
                .budget = 0,
                .answersCall = false});
    readMore();
}

void Connection::readMore() {
    if (closed_ || stopReading_ || reading_ || waitingForBudget_ ||
        inFlight_ >= limits_.maximumInFlight || !budgetForNextFrame()) {
        return;
    }
    receive();
}

bool Connection::budgetForNextFrame() {
    const size_t size = reader_.nextFrameSize();
    if (!limits_.budget || size == 0 || reserved_ >= size ||
        size > WireFraming::lengthSize + WireFraming::maximumFrameLength) {
        return true;  // an overlong frame is refused once it is looked at
    }
    auto resume = [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            auto& strand = self->strand_;
            asio::post(strand, [self = std::move(self)] {
                self->waitingForBudget_ = false;
                self->readMore();
            });
        }
    };
    if (!limits_.budget->take(service_.peer().uid, size - reserved_, std::move(resume))) {
        waitingForBudget_ = true;
        return false;
    }
    reserved_ = size;
    return true;
}

void Connection::receive() {
    auto got = UnixSocket::receiveFromSender(socket_.native_handle(), readBuffer_.data(),
                                             readBuffer_.size());
    if (!got) {
        if (got.error().code != EAGAIN && got.error().code != EWOULDBLOCK) {
            closeAfterDrain();  // a reset: replies to calls already read still go out if they can
            return;
        }
        reading_ = true;
        armPartialFrameTimer();
        socket_.async_wait(
            Socket::wait_read,
            asio::bind_executor(strand_, [self = shared_from_this()](const std::error_code& error) {
                self->reading_ = false;
                if (self->closed_ || self->stopReading_) {
                    return;
                }
                if (error) {
                    self->closeAfterDrain();
                    return;
                }
                self->readMore();
            }));
        return;
    }
    if (got->size == 0 || got->sender.pid == 0) {
        // End of stream, or bytes whose writer has gone (or was never known): nothing of
        // theirs is read.
        closeAfterDrain();
        return;
    }
    if (!fromAdmittedProcess(got->sender)) {
        violation(WireFraming::Violation::foreignSender);
        return;
    }
    reader_.append(readBuffer_.data(), got->size);
    processFrames();
    // Continue through the strand, so that other connections get their turn.
    asio::post(strand_, [self = shared_from_this()] { self->readMore(); });
}

bool Connection::fromAdmittedProcess(const UnixSocket::Sender& sender) const {
    const Caller& peer = service_.peer();
    if (sender.pid != peer.pid) {
        return false;
    }
    // The credentials name the sender's pid as it was at send time. While the admitted
    // process lives (a zombie too: its pid is not free until it is reaped), no other process
    // can hold that pid, so the bytes are its own; once it is reaped its pidfd says so for
    // good, and any later holder of the pid is refused. Bytes from before the admission
    // cannot carry the pid either: the admitted process held it from before it connected.
    return peer.pidfd && signalPidfd(*peer.pidfd, 0).ok();
}

void Connection::processFrames() {
    while (!closed_ && !stopReading_ && inFlight_ < limits_.maximumInFlight) {
        const size_t size = reader_.nextFrameSize();
        auto body = reader_.next();
        if (!body) {
            violation(body.error());
            return;
        }
        if (!body->has_value()) {
            return;
        }
        // The frame's bytes count against the budget until its reply is written.
        const size_t reserved = std::min(reserved_, size);
        reserved_ -= reserved;
        if (limits_.budget && size > reserved) {
            limits_.budget->charge(service_.peer().uid, size - reserved);
        }
        auto call = WireFraming::decodeCall(std::move(**body));
        if (!call) {
            if (limits_.budget) {
                limits_.budget->giveBack(service_.peer().uid, size);
            }
            violation(call.error());
            return;
        }
        handleCall(std::move(*call), limits_.budget ? size : 0);
    }
}

void Connection::handleCall(WireFraming::Call call, size_t cost) {
    ++inFlight_;
    if (call.selector == WireFraming::Selector::getVersion) {
        queueWrite({.frame = WireFraming::encodeVersionReply(call.id, service_.getVersion()),
                    .written = {},
                    .budget = cost,
                    .answersCall = true});
        return;
    }
    // Until the job's reply is posted back, the guard keeps the executor from running out
    // of work while nothing else is pending on it. The reply runs once; it hands its
    // references on, so a finished job holds nothing of the connection.
    auto work =
        std::make_shared<asio::executor_work_guard<asio::any_io_executor>>(socket_.get_executor());
    service_.perform(std::move(call.request),
                     [self = shared_from_this(), id = call.id, work, cost](
                         const std::string& response, std::function<void()> written) mutable {
                         auto connection = std::move(self);
                         auto guard = std::move(work);
                         PendingWrite write{.frame = WireFraming::encodeResponseReply(id, response),
                                            .written = std::move(written),
                                            .budget = cost};
                         auto& strand = connection->strand_;
                         asio::post(strand, [connection = std::move(connection),
                                             write = std::move(write)]() mutable {
                             connection->queueWrite(std::move(write));
                         });
                         guard->reset();
                     });
}

void Connection::completed(PendingWrite& write) {
    if (write.written) {
        write.written();
    }
    if (write.budget > 0) {
        limits_.budget->giveBack(service_.peer().uid, write.budget);
    }
    if (write.answersCall) {
        --inFlight_;
    }
}

void Connection::queueWrite(PendingWrite write) {
    writes_.push_back(std::move(write));
    if (closed_) {
        // The client is gone; the call still counts out.
        for (auto& w : writes_) {
            completed(w);
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
    replyTimer_.expires_after(limits_.replyTimeout);
    replyTimer_.async_wait(
        asio::bind_executor(strand_, [self = shared_from_this()](const std::error_code& error) {
            if (error || self->closed_ || self->writing_.empty()) {
                return;
            }
            listenerLogger().error(
                "closing a connection whose replies waited " +
                shortestDecimal(std::chrono::duration<double>(self->limits_.replyTimeout).count()) +
                " s to be written");
            self->closeNow();
        }));
    asio::async_write(socket_, buffers,
                      asio::bind_executor(strand_, [self = shared_from_this()](
                                                       const std::error_code& error, size_t) {
                          self->replyTimer_.cancel();
                          auto done = std::move(self->writing_);
                          self->writing_.clear();
                          for (auto& w : done) {
                              self->completed(w);
                          }
                          if (error || self->closed_) {
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

void Connection::violation(WireFraming::Violation violation) {
    listenerLogger().error("closing a connection that sent " +
                           std::string(WireFraming::describe(violation)));
    closeAfterDrain();
}

void Connection::closeAfterDrain() {
    stopReading_ = true;
    partialFrameTimer_.cancel();
    if (reading_) {
        // Stop the pending wait without closing the descriptor: replies still go out.
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
    replyTimer_.cancel();
    std::error_code ignored;
    socket_.close(ignored);
    for (auto& w : writes_) {
        completed(w);
    }
    writes_.clear();
    if (limits_.budget && reserved_ > 0) {
        limits_.budget->giveBack(service_.peer().uid, std::exchange(reserved_, 0));
    }
    if (onClosed_) {
        std::exchange(onClosed_, {})();
    }
}

}  // namespace kb
