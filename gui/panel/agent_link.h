// The panel's end of the record link over TCP: connects, logs on with a password, sends codes and
// records, and hands every whole message that arrives to the owner, in order. A stream that can
// never decode (a record that lies about its size, a message over the limit) ends the connection
// cleanly: nothing half-read ever reaches the panel.
#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <vector>

#include "ups_lib/link_message.h"

namespace kelvora::panel {

class AgentLink : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(const ups::link::Message&)>;

    explicit AgentLink(Handler handler, QObject* parent = nullptr);
    ~AgentLink() override;

    // Connects to `host`:`port`; once connected, logs on with `password` (code 1, then the
    // password as an archived string). Reports with connected() or failed().
    void Open(const QString& host, std::uint16_t port, const QString& password);
    // Sends code 2 when connected, then lets go of the connection.
    void Close();
    bool IsOpen() const;
    void Send(const std::vector<std::uint8_t>& message);

  signals:
    void connected();
    void failed(const QString& why);
    // The agent closed the connection, or its stream was damaged.
    void lost(const QString& why);

  private:
    void OnReadyRead();

    Handler handler_;
    QTcpSocket socket_;
    QString password_;
    std::vector<std::uint8_t> in_;
    bool open_ = false;
};

}  // namespace kelvora::panel
