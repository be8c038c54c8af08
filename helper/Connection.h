// One accepted client connection: reads call frames, hands them to its HelperService and
// writes the replies, in whatever order they complete.
//
// Limits against a hostile client: at most `maximumInFlight` calls whose replies are not
// yet written (reading pauses until replies drain; no call is dropped), and a partial
// frame followed by `partialFrameTimeout` of silence closes the connection. A protocol
// violation (frame over 64 MiB, shorter than its header, unknown selector) logs an error
// line in "listener" and closes it. Every close first lets calls already read reply; only
// a failed write (the client is gone) drops what remains, and those calls still count out.
//
// All handlers run on the connection's strand; replies from worker threads are posted to
// it. The object keeps itself alive while any handler or job refers to it.
#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HelperProtocol/WireFraming.h"
#include "helper/HelperService.h"

namespace kb {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    struct Limits {
        size_t maximumInFlight = 64;
        std::chrono::milliseconds partialFrameTimeout{30'000};
    };

    using Socket = asio::local::stream_protocol::socket;

    // `onClosed` runs once, on the strand, when the socket has been closed.
    static std::shared_ptr<Connection> start(Socket socket, HelperService service, Limits limits,
                                             std::function<void()> onClosed = {});

    Connection(Socket socket, HelperService service, Limits limits, std::function<void()> onClosed);

  private:
    struct PendingWrite {
        std::string frame;
        std::function<void()> written;
    };

    void readMore();
    void onRead(const std::error_code& error, size_t size);
    void processFrames();
    void handleCall(WireFraming::Call call);
    void queueReply(std::string frame, std::function<void()> written);
    void writeNext();
    void armPartialFrameTimer();
    void closeAfterDrain();
    void closeNow();
    void finishIfDrained();

    asio::strand<asio::any_io_executor> strand_;
    Socket socket_;
    HelperService service_;
    Limits limits_;
    std::function<void()> onClosed_;
    asio::steady_timer partialFrameTimer_;
    WireFraming::FrameReader reader_;
    std::array<char, 65536> readBuffer_;
    std::deque<PendingWrite> writes_;
    std::vector<PendingWrite> writing_;
    size_t inFlight_ = 0;  // calls read whose replies are not written yet
    bool reading_ = false;
    bool stopReading_ = false;
    bool closed_ = false;
};

}  // namespace kb
