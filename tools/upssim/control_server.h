// The control socket: a UNIX stream socket taking one-line requests from any number of
// clients, answering each with one line. It only moves bytes; what a request means is the
// business of the handler it is given.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace upssim {

class ControlServer {
  public:
    using Handler = std::function<std::string(std::string_view request)>;

    static constexpr std::size_t kMaxClients = 16;
    static constexpr std::size_t kMaxRequest = 256;
    // A client that stops reading is not read from either once this much is waiting for it.
    static constexpr std::size_t kMaxPendingOutput = 4096;

    ControlServer() = default;
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    // Removes the socket file, unless someone has replaced it meanwhile.
    ~ControlServer();

    // Listens at `path`. A stale socket left by a dead process is replaced; a live one, or
    // a file that is not a socket, is an error.
    bool open(const std::string& path, std::string& error);
    bool is_open() const { return listener_.valid(); }

    // Appends the descriptors to watch; `service` expects the same entries back.
    void add_poll_fds(std::vector<pollfd>& fds) const;
    void service(const pollfd* fds, const Handler& handler);
    // Best-effort delivery of pending answers before the program ends.
    void flush();

  private:
    struct Client {
        UniqueFd fd;
        std::string in{};
        std::string out{};
        bool discarding = false;  // inside an over-long request, up to its newline
        bool eof = false;
        bool broken = false;
    };

    void accept_clients();
    void read_from(Client& client, const Handler& handler);
    void take_request(Client& client, const Handler& handler);
    static void write_to(Client& client);

    UniqueFd listener_;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::vector<Client> clients_;
};

}  // namespace upssim
