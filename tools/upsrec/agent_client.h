// upsrec's connection to a running agent over the record link (TCP). Every step has a time
// limit, so a silent or vanished agent ends in an error instead of a hang; every failure is a
// Failure with a message an administrator can act on.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "ups_lib/link_message.h"

namespace upsrec {

struct AgentAddress {
    std::string host;
    std::uint16_t port = ups::link::kDefaultTcpPort;
};

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT"; a bare IPv6 address (more than one colon) is all
// host. Without a port: `defaultPort`.
AgentAddress ParseAgentAddress(std::string_view text, std::uint16_t defaultPort);
// $TORVANE_TCP_PORT when set (it must be a port number), else 2570.
std::uint16_t DefaultAgentPort();

class AgentClient {
  public:
    using Clock = std::chrono::steady_clock;

    // Resolves and connects within `timeout`; `timeout` is also the limit of each later wait.
    AgentClient(const AgentAddress& address, std::chrono::milliseconds timeout);
    ~AgentClient();
    AgentClient(const AgentClient&) = delete;
    AgentClient& operator=(const AgentClient&) = delete;

    void Send(const std::vector<std::uint8_t>& message);
    // The next message from the agent, read no later than `deadline`; `what` names the wait in
    // the error when the deadline passes.
    ups::link::Message Receive(Clock::time_point deadline, const std::string& what);
    // Says goodbye and lets the agent close first, so nothing we sent is lost to a reset; what
    // the agent still sends is read and dropped, for a short time at most.
    void Close();

    std::chrono::milliseconds Timeout() const { return timeout_; }
    const std::string& Peer() const { return peer_; }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::chrono::milliseconds timeout_;
    std::string peer_;
};

}  // namespace upsrec
