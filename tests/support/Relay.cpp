#include "tests/support/Relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace
{

/* The packets of one direction of a connection, read from its bytes as they pass: each
 * is a 3-byte little-endian payload length, a sequence number, then the payload. */
struct Packet {
    unsigned sequence;
    std::string payload;
};

class Framer
{
  public:
    /* Takes the next bytes of the stream; returns the packets they complete. */
    std::vector<Packet> feed(const char *bytes, size_t length)
    {
        std::vector<Packet> done;
        for (size_t i = 0; i < length;) {
            if (header_used_ < 4) {
                header_[header_used_++] = static_cast<unsigned char>(bytes[i++]);
                if (header_used_ == 4)
                    payload_left_ = header_[0] | header_[1] << 8 | header_[2] << 16;
            } else {
                size_t n = std::min(payload_left_, length - i);
                payload_.append(bytes + i, n);
                i += n;
                payload_left_ -= n;
            }
            if (header_used_ == 4 && payload_left_ == 0) {
                done.push_back({header_[3], std::move(payload_)});
                payload_.clear();
                header_used_ = 0;
            }
        }
        return done;
    }

  private:
    unsigned char header_[4];
    size_t header_used_ = 0, payload_left_ = 0;
    std::string payload_;
};

const unsigned char COM_QUERY = 0x03;
const unsigned char OK_PACKET = 0x00;

/* Writes all of bytes to fd; false when the peer is gone. */
bool send_all(int fd, const char *bytes, size_t length)
{
    while (length > 0) {
        ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

sockaddr_un socket_address(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

} // namespace

/* One client's connection and the relay's own connection to the server for it. */
struct Relay::Link {
    int client = -1, server = -1;
    Framer from_client, from_server;
    size_t server_packets = 0;
    bool logged_in = false;
    bool answer_breaks = false; /* the server's next bytes answer the fault's statement */

    ~Link()
    {
        for (int fd : {client, server})
            if (fd >= 0)
                close(fd);
    }
};

Relay::Relay(const std::string &server_socket, RelayFault fault)
    : server_socket_(server_socket), fault_(fault)
{
    socket_address(server_socket_); /* throws here rather than in the relay's thread */
    char dir[] = "/tmp/qvr-XXXXXX"; /* short: socket paths are limited to 107 bytes */
    if (mkdtemp(dir) == nullptr)
        throw std::runtime_error("relay: cannot make a directory");
    dir_ = dir;
    socket_ = dir_ + "/s";
    sockaddr_un address = socket_address(socket_);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        std::string error = strerror(errno);
        release();
        throw std::runtime_error("relay: " + error);
    }
    try {
        thread_ = std::thread(&Relay::serve, this);
    } catch (...) {
        release();
        throw;
    }
}

Relay::~Relay()
{
    if (thread_.joinable()) {
        (void)!write(stop_pipe_[1], "x", 1);
        thread_.join();
    }
    release();
}

void Relay::release()
{
    links_.clear();
    for (int fd : {listener_, stop_pipe_[0], stop_pipe_[1]})
        if (fd >= 0)
            close(fd);
    unlink(socket_.c_str());
    rmdir(dir_.c_str());
}

std::vector<std::string> Relay::statements() const
{
    std::lock_guard<std::mutex> hold(statements_lock_);
    return statements_;
}

void Relay::serve()
{
    for (;;) {
        std::vector<pollfd> fds = {{stop_pipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const std::unique_ptr<Link> &link : links_) {
            fds.push_back({link->client, POLLIN, 0});
            fds.push_back({link->server, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        /* links_[i] was polled as fds[2 + 2i] and fds[3 + 2i] */
        std::vector<bool> ended(links_.size(), false);
        for (size_t i = 0; i < links_.size(); i++) {
            if (fds[2 + 2 * i].revents != 0)
                ended[i] = !pass_to_server(*links_[i]);
            if (!ended[i] && fds[3 + 2 * i].revents != 0)
                ended[i] = !pass_to_client(*links_[i]);
        }
        for (size_t i = links_.size(); i-- > 0;)
            if (ended[i])
                links_.erase(links_.begin() + static_cast<std::ptrdiff_t>(i));
        if (fds[1].revents != 0)
            accept_client();
    }
}

void Relay::accept_client()
{
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    auto link = std::make_unique<Link>();
    link->client = client;
    sockaddr_un address = socket_address(server_socket_);
    link->server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    /* Without the server, the client sees its connection closed at once. */
    if (link->server >= 0 &&
        connect(link->server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        links_.push_back(std::move(link));
}

bool Relay::pass_to_server(Link &link)
{
    char bytes[16384];
    ssize_t n = recv(link.client, bytes, sizeof bytes, 0);
    if (n <= 0)
        return false;
    for (Packet &packet : link.from_client.feed(bytes, static_cast<size_t>(n))) {
        /* A command starts a new exchange, so its sequence number is 0. */
        if (!link.logged_in || packet.sequence != 0 || packet.payload.empty() ||
            static_cast<unsigned char>(packet.payload[0]) != COM_QUERY)
            continue;
        std::lock_guard<std::mutex> hold(statements_lock_);
        statements_.push_back(packet.payload.substr(1));
        if (fault_.point == RelayFault::STATEMENT && statements_.size() == fault_.number)
            link.answer_breaks = true;
    }
    return send_all(link.server, bytes, static_cast<size_t>(n));
}

bool Relay::pass_to_client(Link &link)
{
    char bytes[16384];
    ssize_t n = recv(link.server, bytes, sizeof bytes, 0);
    if (n <= 0)
        return false;
    bool breaks = link.answer_breaks;
    for (Packet &packet : link.from_server.feed(bytes, static_cast<size_t>(n))) {
        /* After the server's greeting, an OK packet ends the login; what comes before it
         * (a change of authentication method, more authentication data) is part of it. */
        if (link.logged_in || link.server_packets++ == 0 || packet.payload.empty() ||
            static_cast<unsigned char>(packet.payload[0]) != OK_PACKET)
            continue;
        link.logged_in = true;
        if (++logins_ == fault_.number && fault_.point == RelayFault::LOGIN)
            breaks = true;
    }
    if (breaks && !fault_.after_answer) {
        broke_ = true;
        return false;
    }
    if (!send_all(link.client, bytes, static_cast<size_t>(n)))
        return false;
    broke_ = broke_ || breaks;
    return !breaks;
}
