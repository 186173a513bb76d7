#include "local_agent_link.h"

#include <QMetaObject>

#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace lk = ups::link;

// On the platform layer's thread: decodes each block and hands it to the GUI thread.
class LocalAgentLink::Receiver final : public platform::Window {
  public:
    explicit Receiver(LocalAgentLink* owner) : owner_(owner) {}

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lparam) override {
        if (msg != platform::kWmCopyData || lparam == 0) return 0;
        const auto& block = *reinterpret_cast<const platform::CopyDataMessage*>(lparam);
        auto message = std::make_shared<lk::Message>();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data.data());
        if (!lk::DecodePayload(lk::Direction::FromAgent,
                               static_cast<std::int32_t>(block.identifier),
                               std::span(bytes, block.data.size()), *message)) {
            ups::Trace("Get copy data error\n");
            return 0;
        }
        QPointer<LocalAgentLink> owner = owner_.data();
        QMetaObject::invokeMethod(
            owner_.data(),
            [owner, message] {
                if (owner) owner->Deliver(message);
            },
            Qt::QueuedConnection);
        return 1;
    }

  private:
    QPointer<LocalAgentLink> owner_;
};

LocalAgentLink::LocalAgentLink(Handler handler, std::string caption, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), caption_(std::move(caption)) {}

LocalAgentLink::~LocalAgentLink() {
    Close();
}

bool LocalAgentLink::Open(std::string* error) {
    Close();
    thread_ = std::make_unique<platform::WindowThread>();
    receiver_ = thread_->Create<Receiver>(this);
    if (receiver_)
        endpoint_ = platform::CopyDataEndpoint::Open(caption_, receiver_->handle(), error);
    if (!endpoint_) {
        Close();
        return false;
    }
    // The window's handle first, as the agent of the other platform wants it; then the
    // registration itself, which the agent answers with the state.
    const std::uint32_t handle = 0;
    const std::string_view handleBytes(reinterpret_cast<const char*>(&handle), sizeof handle);
    const auto first =
        platform::SendCopyData(kAgentFrameTitle, lk::kPassword, handleBytes, caption_);
    const auto second = platform::SendCopyData(kAgentFrameTitle, lk::kPassword, {}, caption_);
    if (!first.delivered() || first.result == 0 || !second.delivered() || second.result == 0) {
        if (error != nullptr) *error = "the agent on this machine does not answer";
        Close();
        return false;
    }
    open_ = true;
    return true;
}

void LocalAgentLink::Close() {
    if (open_) Send(lk::Encode(lk::kGoodbye));
    open_ = false;
    endpoint_.reset();
    receiver_.reset();
    thread_.reset();
}

bool LocalAgentLink::Send(const std::vector<std::uint8_t>& message) {
    if (!open_ || message.size() < 4) return false;
    std::uint32_t code = 0;
    for (int i = 3; i >= 0; --i) code = code << 8 | message[static_cast<std::size_t>(i)];
    const std::string_view payload(reinterpret_cast<const char*>(message.data()) + 4,
                                   message.size() - 4);
    const auto sent = platform::SendCopyData(kAgentFrameTitle, code, payload, caption_);
    if (!sent.delivered()) ups::Trace("Send copy data error\n");
    return sent.delivered();
}

bool LocalAgentLink::AgentPresent() const {
    return platform::FindCopyDataWindow(kAgentFrameTitle);
}

void LocalAgentLink::Deliver(std::shared_ptr<lk::Message> message) {
    if (open_) handler_(*message);
}

}  // namespace kelvora::panel
