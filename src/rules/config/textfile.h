#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "rules/convert/result.h"

// Sequential reading of a single-byte text file, line by line. A line ends
// at CR LF, at a lone CR or at a lone LF, so a file edited on any system
// reads the same; the end-of-line characters are not part of the line. The
// bytes are handed back as they stand: no character set is applied.
//
// Each step that can fail answers with a Result whose reason is one line
// (the file's own error, "Not a regular file", "File larger than 16 MB",
// "Input past end of file"), which the readers of the configuration files
// put in their report lines. The file is closed when the object goes away.
class TextFile
{
public:
    // No configuration file comes near this; past it, the reading stops
    // with a failure instead of filling the memory.
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;

    explicit TextFile(const QString &path);

    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;

    // Opens the file for reading; it must be a regular file.
    Result<void> open();

    // True when every line has been read. A file that ends with a line end
    // has no further empty line after it.
    Result<bool> atEnd();

    // The next line; "Input past end of file" when there is none.
    Result<QByteArray> readLine();

private:
    // Makes sure at least one unread byte is buffered unless the file is
    // exhausted; false at the end of the file.
    Result<bool> fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_read = 0;
};
