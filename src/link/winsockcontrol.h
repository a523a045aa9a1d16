#pragma once

#include <QTcpSocket>

#include "link/socketcontrol.h"

// The TCP client behind the main window's socket control. States 8 and 9
// are held until Close(), so the status line keeps showing that the peer
// went away or the connection failed until the operator acts.
class WinsockControl : public SocketControl
{
    Q_OBJECT

public:
    explicit WinsockControl(QObject *parent = nullptr);

    void RemoteHost(const QString &host) override;
    void LocalPort(std::int32_t port) override;
    void RemotePort(std::int32_t port) override;
    void Connect() override;
    void Close() override;
    std::int16_t State() const override;
    std::int32_t BytesReceived() const override;
    void GetData(QByteArray &text) override;
    void SendData(const QByteArray &text) override;
    QString errorText() const override;

private:
    void requireClosed() const;
    void onError(QAbstractSocket::SocketError error);

    // A child, so that a test can follow the transitions behind State().
    QTcpSocket m_socket{this};
    QString m_remoteHost;
    quint16 m_localPort = 0;
    quint16 m_remotePort = 0;
    bool m_peerClosed = false;
    bool m_failed = false;
    bool m_closeAsked = false;
    QString m_errorText;
};
