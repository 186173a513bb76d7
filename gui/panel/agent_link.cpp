#include "agent_link.h"

namespace kelvora::panel {

namespace lk = ups::link;

AgentLink::AgentLink(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        open_ = true;
        // Code 1, then the password as an archived string.
        Send(lk::EncodeText(lk::kPassword, password_.toStdString()));
        socket_.flush();
        emit connected();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, &AgentLink::OnReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        const QString why = socket_.errorString();
        if (open_) {
            open_ = false;
            in_.clear();
            emit lost(why);
        } else {
            emit failed(why);
        }
    });
}

AgentLink::~AgentLink() {
    socket_.disconnect(this);
    socket_.abort();
}

void AgentLink::Open(const QString& host, std::uint16_t port, const QString& password) {
    Close();
    password_ = password;
    in_.clear();
    socket_.connectToHost(host, port);
}

void AgentLink::Close() {
    if (open_) {
        Send(lk::Encode(lk::kGoodbye));
        socket_.flush();
    }
    open_ = false;
    socket_.abort();
    in_.clear();
}

bool AgentLink::IsOpen() const {
    return open_;
}

void AgentLink::Send(const std::vector<std::uint8_t>& message) {
    if (!open_) return;
    socket_.write(reinterpret_cast<const char*>(message.data()),
                  static_cast<qint64>(message.size()));
}

void AgentLink::OnReadyRead() {
    const QByteArray bytes = socket_.readAll();
    in_.insert(in_.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    while (open_ && at < in_.size()) {
        lk::Message message;
        std::size_t used = 0;
        const auto status = lk::Decode(lk::Direction::FromAgent,
                                       std::span(in_.data() + at, in_.size() - at), message, used);
        if (status == lk::DecodeStatus::NeedMore) break;
        if (status == lk::DecodeStatus::Bad) {
            open_ = false;
            in_.clear();
            socket_.abort();
            emit lost(QStringLiteral("the agent sent a damaged record"));
            return;
        }
        at += used;
        handler_(message);  // may close this link: `open_` says so
    }
    if (!open_) return;
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace kelvora::panel
