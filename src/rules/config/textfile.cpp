#include "rules/config/textfile.h"

#include <QFileInfo>

namespace {

constexpr qint64 ChunkSize = 16 * 1024;

Failure<QString> fileFailure(const QFile &file)
{
    // Descriptions end up inside one bracketed report line.
    QString description = file.errorString();
    description.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (description.isEmpty())
        description = QStringLiteral("File access error");
    return failure(description);
}

} // namespace

TextFile::TextFile(const QString &path)
    : m_file(path)
{
}

Result<void> TextFile::open()
{
    // Only a regular file is read: a pipe or a device could make the read
    // wait for ever or never end.
    if (!QFileInfo(m_file.fileName()).isFile())
        return failure(QStringLiteral("Not a regular file"));
    if (!m_file.open(QIODevice::ReadOnly))
        return fileFailure(m_file);
    return {};
}

Result<bool> TextFile::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (!m_file.isOpen())
        return false;
    m_buffer = m_file.read(ChunkSize);
    m_read += m_buffer.size();
    m_pos = 0;
    if (m_read > MaxBytes)
        return failure(QStringLiteral("File larger than 16 MB"));
    if (m_buffer.isEmpty() && m_file.error() != QFileDevice::NoError)
        return fileFailure(m_file);
    return !m_buffer.isEmpty();
}

Result<bool> TextFile::atEnd()
{
    const Result<bool> more = fill();
    if (!more)
        return more;
    return !*more;
}

Result<QByteArray> TextFile::readLine()
{
    Result<bool> more = fill();
    if (!more)
        return more.failed();
    if (!*more)
        return failure(QStringLiteral("Input past end of file"));

    QByteArray line;
    for (;;) {
        const qsizetype start = m_pos;
        const qsizetype n = m_buffer.size();
        while (m_pos < n && m_buffer.at(m_pos) != '\r' && m_buffer.at(m_pos) != '\n')
            ++m_pos;
        line.append(m_buffer.constData() + start, m_pos - start);
        if (m_pos < n)
            break;
        more = fill();
        if (!more)
            return more.failed();
        if (!*more)
            return line;  // last line without a line end
    }

    const char end = m_buffer.at(m_pos++);
    // The LF of a CR LF pair may sit at the start of the next chunk.
    if (end == '\r') {
        more = fill();
        if (!more)
            return more.failed();
        if (*more && m_buffer.at(m_pos) == '\n')
            ++m_pos;
    }
    return line;
}
