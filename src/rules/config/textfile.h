#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Sequential reading of a single-byte text file, line by line. A line ends
// at CR LF, at a lone CR or at a lone LF, so a file edited on any system
// reads the same; the end-of-line characters are not part of the line. The
// bytes are handed back as they stand: no character set is applied.
//
// Failures are raised as Fault with a one-line description, so the readers
// of the configuration files can report them in the one way they report
// everything else. The file is closed when the object goes away.
class TextFile
{
public:
    // No configuration file comes near this; past it, the reading stops
    // with a fault instead of filling the memory.
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;

    explicit TextFile(const QString &path);

    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;

    // Opens the file for reading; Fault when it cannot be opened or is no
    // regular file.
    void open();

    // True when every line has been read. A file that ends with a line end
    // has no further empty line after it. Fault on a read error.
    bool atEnd();

    // The next line; Fault("Input past end of file") when there is none,
    // Fault on a read error.
    QByteArray readLine();

private:
    // Makes sure at least one unread byte is buffered unless the file is
    // exhausted; returns false at the end of the file.
    bool fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_read = 0;
};
