#include "rules/config/textfile.h"

#include <QFileInfo>

#include "rules/convert/fault.h"

namespace {

constexpr qint64 ChunkSize = 16 * 1024;

Fault fileFault(const QFile &file)
{
    // Descriptions end up inside one bracketed report line.
    QByteArray description = file.errorString().toLatin1();
    description.replace('\r', ' ').replace('\n', ' ');
    if (description.isEmpty())
        description = QByteArrayLiteral("File access error");
    return Fault(description.toStdString());
}

} // namespace

TextFile::TextFile(const QString &path)
    : m_file(path)
{
}

void TextFile::open()
{
    // Only a regular file is read: a pipe or a device could make the read
    // wait for ever or never end.
    if (!QFileInfo(m_file.fileName()).isFile())
        throw Fault("Not a regular file");
    if (!m_file.open(QIODevice::ReadOnly))
        throw fileFault(m_file);
}

bool TextFile::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (!m_file.isOpen())
        return false;
    m_buffer = m_file.read(ChunkSize);
    m_read += m_buffer.size();
    m_pos = 0;
    if (m_read > MaxBytes)
        throw Fault("File larger than 16 MB");
    if (m_buffer.isEmpty() && m_file.error() != QFileDevice::NoError)
        throw fileFault(m_file);
    return !m_buffer.isEmpty();
}

bool TextFile::atEnd()
{
    return !fill();
}

QByteArray TextFile::readLine()
{
    if (!fill())
        throw Fault("Input past end of file");

    QByteArray line;
    for (;;) {
        const qsizetype start = m_pos;
        const qsizetype n = m_buffer.size();
        while (m_pos < n && m_buffer.at(m_pos) != '\r' && m_buffer.at(m_pos) != '\n')
            ++m_pos;
        line.append(m_buffer.constData() + start, m_pos - start);
        if (m_pos < n)
            break;
        if (!fill())
            return line;  // last line without a line end
    }

    const char end = m_buffer.at(m_pos++);
    // The LF of a CR LF pair may sit at the start of the next chunk.
    if (end == '\r' && fill() && m_buffer.at(m_pos) == '\n')
        ++m_pos;
    return line;
}
