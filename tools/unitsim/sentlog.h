#pragma once

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>

class QFile;
class QTimer;

// The record of every data packet the simulator hands to a viewer, one line
// each: "unit,packet number,milliseconds since 1970". A reader can then check
// that what was sent while a link was up arrived, and arrived once. Lines are
// gathered in memory and written every second and when the log closes.
class SentLog : public QObject
{
    Q_OBJECT

public:
    // Null when the file cannot be created; `error` then says why.
    static std::unique_ptr<SentLog> create(const QString &path, QString *error);
    ~SentLog() override;

    void record(const QByteArray &unit, std::uint64_t packetNumber, qint64 unixMs);
    // Writes what is gathered; false (and one failed() for the run) when the file does not take it.
    bool flush();

signals:
    void failed(const QString &why);

private:
    SentLog(std::unique_ptr<QFile> file, const QString &path);

    std::unique_ptr<QFile> m_file;
    QString m_path;
    QTimer *m_timer = nullptr;
    QByteArray m_pending;
    bool m_reported = false;
};
