// The panel's copy-data link to the agent on this machine: the panel opens an endpoint under its
// own title, registers with the agent's frame (code 1 with its window's handle, then code 1
// alone) and sends each message as a code with its payload. What the agent sends arrives on a
// window of the platform layer's own thread and is handed to the GUI thread whole, one message
// per block. Only the agent's user and root may open endpoints in the agent's run directory, so
// only they can use this link; everyone else reaches the agent over TCP.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "ups_lib/link_message.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/message_loop.h"

namespace kelvora::panel {

inline constexpr const char* kAgentFrameTitle = "Torvane 2000 for Windows";

class LocalAgentLink : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(const ups::link::Message&)>;

    // `caption`: the title the panel's endpoint takes.
    LocalAgentLink(Handler handler, std::string caption, QObject* parent = nullptr);
    ~LocalAgentLink() override;

    // Opens the endpoint and registers with the agent. False (and `error` says why) when the
    // endpoint cannot be had or the agent does not take the registration.
    bool Open(std::string* error = nullptr);
    // Code 2 to the agent, and the endpoint goes.
    void Close();
    bool IsOpen() const { return open_; }
    // The agent's endpoint is still there: copy-data has no connection to see it go.
    bool AgentPresent() const;
    // A message as the TCP link would send it: the code, then its payload.
    bool Send(const std::vector<std::uint8_t>& message);

  private:
    class Receiver;
    void Deliver(std::shared_ptr<ups::link::Message> message);

    Handler handler_;
    std::string caption_;
    std::unique_ptr<platform::WindowThread> thread_;
    platform::WindowPtr<Receiver> receiver_;
    std::unique_ptr<platform::CopyDataEndpoint> endpoint_;
    bool open_ = false;
};

}  // namespace kelvora::panel
