#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include "unitsim/randomsource.h"
#include "unitsim/simoptions.h"

class QTcpServer;

// Listens for viewers and gives each one its own session. Every event of
// every session comes out of eventLine, one line each, without line end.
class UnitServer : public QObject
{
    Q_OBJECT

public:
    explicit UnitServer(const SimOptions &options, QObject *parent = nullptr);

    bool listen();
    QString errorString() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    int clientCount() const { return m_clients; }

signals:
    void eventLine(const QByteArray &line);

private:
    void onNewConnection();

    const SimOptions m_options;
    QTcpServer *m_server = nullptr;
    // Seeds for runs without --seed; each connection draws its own.
    RandomSource m_seeds;
    int m_nextId = 1;
    int m_clients = 0;
};
