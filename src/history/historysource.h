#pragma once

#include <QObject>
#include <QString>

#include "rules/convert/result.h"

// Which history the viewer's reading windows read: the viewer's own file
// (its recording always goes there) or a shared store on a PostgreSQL
// server, named by its connection URI. The one owner of that choice: the
// trends window, the export and every other reader ask it for the address
// and follow changed(). The choice is kept in the user's settings as
// "history/source" (empty for the local file); an address that carries a
// password is refused and never written there.
class HistorySource : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *SettingKey = "history/source";

    // localPath: the viewer's own file, read while no server is chosen. The
    // choice is read from the settings; a stored address that cannot be
    // used gives the local file, and problem() says why.
    explicit HistorySource(QString localPath, QObject *parent = nullptr);

    // The address to read: the local file's path, or the server's URI.
    QString address() const { return m_server.isEmpty() ? m_localPath : m_server; }
    const QString &localPath() const { return m_localPath; }
    // The server's URI, empty while the local file is chosen.
    const QString &server() const { return m_server; }
    bool isServer() const { return !m_server.isEmpty(); }
    // Why the stored choice was not taken, as a report line; empty when
    // it was.
    const QByteArray &problem() const { return m_problem; }

    // Chooses the local file (an empty text) or the server a URI names.
    // An address that is no PostgreSQL URI, or carries a password, is
    // refused with the reason and changes nothing.
    Result<void> choose(const QString &server);

    // The reason a text cannot be chosen as a server's address; empty when
    // it can.
    static QString refusal(const QString &server);

signals:
    void changed();

private:
    QString m_localPath;
    QString m_server;
    QByteArray m_problem;
};
