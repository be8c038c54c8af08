// One admitted client connection: greets the client, reads call frames, hands them to its
// HelperService and writes the replies, in whatever order they complete.
//
// The first frame written is the greeting saying the client was admitted; bytes already
// waiting before it was written were sent before the client could have seen it (perhaps
// by the program that ran before an exec) and refuse the connection instead. Every byte
// read afterwards must come from the admitted process (the pid and pidfd the kernel
// attaches at send time); bytes of any other sender are never processed and close it.
//
// Limits against a hostile client: at most `maximumInFlight` calls whose replies are not
// yet written (reading pauses until replies drain; no call is dropped); request bytes held
// within the shared `budget` (reading pauses until bytes are given back); a partial frame
// followed by `partialFrameTimeout` of silence closes the connection, and so do replies
// that wait `replyTimeout` to be written (a client that does not read). A protocol
// violation (frame over 64 MiB, shorter than its header, unknown selector, foreign sender)
// logs an error line in "listener" and closes it. Every close first lets calls already
// read reply; only a failed write (the client is gone) drops what remains, and those calls
// still count out.
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
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HelperProtocol/WireFraming.h"
#include "helper/HelperService.h"
#include "helper/RequestBudget.h"
#include "platform/UnixSocket.h"

namespace kb {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    struct Limits {
        size_t maximumInFlight = 64;
        std::chrono::milliseconds partialFrameTimeout{30'000};
        std::chrono::milliseconds replyTimeout{60'000};
        std::shared_ptr<RequestBudget> budget = nullptr;  // null: request bytes are not counted
    };

    using Socket = asio::local::stream_protocol::socket;

    // Serves the service's peer (its pid and pidfd name the admitted process). `onClosed`
    // runs once, on the strand, when the socket has been closed.
    static std::shared_ptr<Connection> start(Socket socket, HelperService service, Limits limits,
                                             std::function<void()> onClosed = {});

    Connection(Socket socket, HelperService service, Limits limits, std::function<void()> onClosed);

  private:
    struct PendingWrite {
        std::string frame;
        std::function<void()> written;
        size_t budget = 0;        // request bytes given back once written
        bool answersCall = true;  // false for the greeting
    };

    void greet();
    void readMore();
    bool budgetForNextFrame();
    void receive();
    bool fromAdmittedProcess(const UnixSocket::Sender& sender) const;
    void processFrames();
    void handleCall(WireFraming::Call call, size_t cost);
    void queueWrite(PendingWrite write);
    void completed(PendingWrite& write);
    void writeNext();
    void armPartialFrameTimer();
    void violation(WireFraming::Violation violation);
    void closeAfterDrain();
    void closeNow();
    void finishIfDrained();

    asio::strand<asio::any_io_executor> strand_;
    Socket socket_;
    HelperService service_;
    Limits limits_;
    std::function<void()> onClosed_;
    asio::steady_timer partialFrameTimer_;
    asio::steady_timer replyTimer_;
    WireFraming::FrameReader reader_;
    std::array<char, 65536> readBuffer_;
    std::deque<PendingWrite> writes_;
    std::vector<PendingWrite> writing_;
    size_t inFlight_ = 0;   // calls read whose replies are not written yet
    size_t reserved_ = 0;   // budget taken for the frame being read
    bool reading_ = false;  // waiting for the socket to become readable
    bool waitingForBudget_ = false;
    bool stopReading_ = false;
    bool closed_ = false;
};

}  // namespace kb
