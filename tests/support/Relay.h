/*
 * Relay: a go-between on a Unix socket of its own that forwards each client connection
 * to a server's socket, reads the MySQL protocol's packet frames as they pass, and can
 * break the run's connections at one chosen point: when the server's answer to a login
 * or to a statement arrives, it closes both sides instead of passing the answer on (what
 * was asked thus reached the server, and the client never learns how it ended), or
 * right after passing it on (the client's next statement meets a closed connection).
 *
 * Invariants: one thread of its own serves every connection; its socket and that thread
 * live exactly as long as the object; what it counts only grows, and a count is final
 * once the client that caused it has ended.
 */
#ifndef TESTS_SUPPORT_RELAY_H
#define TESTS_SUPPORT_RELAY_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* Where the relay breaks the connections. */
struct RelayFault {
    enum Point {
        NONE,      /* never: the relay passes everything on */
        LOGIN,     /* the server's acceptance of the number-th login of the run */
        STATEMENT, /* the server's answer to the number-th statement (COM_QUERY) of the run */
    };
    Point point = NONE;
    unsigned number = 0;       /* from 1 */
    bool after_answer = false; /* the answer reaches the client before the break */
};

class Relay
{
  public:
    /* Starts relaying from a new socket under /tmp to server_socket; throws
     * std::runtime_error when the socket or the thread cannot be made. */
    Relay(const std::string &server_socket, RelayFault fault);
    /* Stops the thread, closes every connection and removes the socket. */
    ~Relay();
    Relay(const Relay &) = delete;
    Relay &operator=(const Relay &) = delete;

    /* The path clients connect to. */
    const std::string &socket() const
    {
        return socket_;
    }
    /* Logins the server accepted so far, the one broken included. */
    unsigned logins() const
    {
        return logins_;
    }
    /* The text of each statement relayed to the server so far, in order. */
    std::vector<std::string> statements() const;
    /* Whether the fault's point was reached and the connection broken there. */
    bool broke() const
    {
        return broke_;
    }

  private:
    struct Link;
    void release();
    void serve();
    void accept_client();
    /* Moves what one side of link has to the other; false when the link is to end. */
    bool pass_to_server(Link &link);
    bool pass_to_client(Link &link);

    std::string server_socket_, dir_, socket_;
    RelayFault fault_;
    int listener_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::vector<std::unique_ptr<Link>> links_; /* touched only by the relay's thread */
    std::atomic<unsigned> logins_{0};
    std::atomic<bool> broke_{false};
    mutable std::mutex statements_lock_;
    std::vector<std::string> statements_;
    std::thread thread_;
};

#endif
