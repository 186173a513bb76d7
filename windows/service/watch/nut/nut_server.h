// The NUT network protocol on the agent (TCP, port 3493 by default, loopback unless told
// otherwise): standard NUT clients (upsc, upsmon as a secondary, Home Assistant) read the UPS
// as "ups" and follow the agent's shutdown through the FSD flag. The server runs on a thread and
// io_context of its own and reads only the published snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "watch/ups_snapshot.h"
#include "watch/watch_settings.h"

namespace torvane::watch {

struct NutAccess {
    std::string user;      // who may take the primary's part and send FSD
    std::string password;  // empty: nobody may
};

class NutServer {
  public:
    // A rack of secondaries, a monitoring system or two; a further connection takes the place
    // of the address that holds most, or none.
    static constexpr std::size_t kMaxConnections = 256;
    static constexpr std::size_t kMaxPerAddress = 16;

    // `onFsd` runs on the server's thread when a logged-in client with the password sends FSD.
    NutServer(const SnapshotBoard& board, NutAccess access, std::function<void()> onFsd);
    // Stops the thread and closes every connection.
    ~NutServer();
    NutServer(const NutServer&) = delete;
    NutServer& operator=(const NutServer&) = delete;

    // Binds and starts serving; false with the reason when the address cannot be had.
    bool Start(const Listener& where, std::string& problem);
    std::uint16_t Port() const;
    // The connections that have done LOGIN: machines that draw power from the UPS. Safe from
    // any thread.
    int Logins() const;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace torvane::watch
