#include "unitsim/streamshaper.h"

#include <algorithm>

#include "unitsim/randomsource.h"

StreamShaper::StreamShaper(const Settings &settings, RandomSource &random)
    : m_settings(settings)
    , m_random(random)
{
}

QByteArray StreamShaper::junk()
{
    QByteArray bytes;
    while (bytes.size() < m_settings.junkBytes) {
        if (m_deck.isEmpty()) {
            m_deck.resize(256);
            for (int v = 0; v < 256; ++v)
                m_deck[v] = static_cast<char>(v);
            for (int i = 255; i > 0; --i)
                std::swap(m_deck[i], m_deck[m_random.below(i + 1)]);
        }
        bytes.append(m_deck.back());
        m_deck.chop(1);
    }
    return bytes;
}

QList<QByteArray> StreamShaper::push(const QByteArray &element, Kind kind)
{
    QByteArray bytes = junk() + element;
    m_bytesIn += bytes.size();
    QList<QByteArray> due;

    switch (kind) {
    case Kind::Packet:
        m_held.append(bytes);
        if (++m_heldPackets >= std::max(1, m_settings.batch)) {
            due.append(m_held);
            m_held.clear();
            m_heldPackets = 0;
        }
        break;
    case Kind::Wits:
        if (m_settings.glueWits || !m_held.isEmpty())
            m_held.append(bytes);
        else
            due.append(bytes);
        break;
    case Kind::Status:
        if (!m_held.isEmpty())
            m_held.append(bytes);
        else
            due.append(bytes);
        break;
    }
    return due;
}

QList<QByteArray> StreamShaper::pushWhole(const QByteArray &bytes)
{
    QList<QByteArray> due = drain();
    due.append(bytes);
    m_bytesIn += bytes.size();
    return due;
}

QList<QByteArray> StreamShaper::drain()
{
    QList<QByteArray> due;
    if (!m_held.isEmpty())
        due.append(m_held);
    m_held.clear();
    m_heldPackets = 0;
    return due;
}

QList<QByteArray> StreamShaper::pieces(const QByteArray &write)
{
    if (!m_settings.split || write.size() < 2)
        return {write};

    const int wanted = 2 + m_random.below(3);
    const int count = static_cast<int>(std::min<qsizetype>(wanted, write.size()));
    // Distinct cut points strictly inside the write, so no piece is empty.
    QList<qsizetype> cuts;
    while (cuts.size() < count - 1) {
        const qsizetype cut = 1 + m_random.below(static_cast<int>(write.size() - 1));
        if (!cuts.contains(cut))
            cuts.append(cut);
    }
    std::sort(cuts.begin(), cuts.end());

    QList<QByteArray> result;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        result.append(write.mid(from, cut - from));
        from = cut;
    }
    result.append(write.mid(from));
    return result;
}
