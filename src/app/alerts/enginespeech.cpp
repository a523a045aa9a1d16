#include "app/alerts/enginespeech.h"

#include <QTextToSpeech>

EngineSpeech::EngineSpeech(QObject *parent)
    : QObject(parent)
{
}

Result<void> EngineSpeech::say(const QString &sentence)
{
    if (!m_failure.isEmpty())
        return failure(m_failure);
    if (!m_engine) {
        // With the module installed but no engine behind it, QTextToSpeech
        // would stand in an error state for good; ask first.
        if (QTextToSpeech::availableEngines().isEmpty()) {
            m_failure = QStringLiteral("no speech engine");
            return failure(m_failure);
        }
        m_engine = new QTextToSpeech(this);
        connect(m_engine, &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
            if (state == QTextToSpeech::Ready)
                sayNext();
        });
        // An engine that fails later (its service gone) is told at the next
        // sentence; what waits is dropped rather than retried for ever.
        connect(m_engine, &QTextToSpeech::errorOccurred, this,
                [this](QTextToSpeech::ErrorReason, const QString &why) {
                    m_failure = QStringLiteral("speech engine failed: ") + why;
                    m_waiting.clear();
                });
    }
    if (m_engine->state() == QTextToSpeech::Error) {
        m_failure = QStringLiteral("speech engine failed: ") + m_engine->errorString();
        return failure(m_failure);
    }
    if (m_engine->availableVoices().isEmpty()) {
        m_failure = QStringLiteral("no voice to speak with");
        return failure(m_failure);
    }
    m_waiting.append(sentence);
    while (m_waiting.size() > MaxWaiting)
        m_waiting.removeFirst();
    if (m_engine->state() == QTextToSpeech::Ready)
        sayNext();
    return {};
}

void EngineSpeech::sayNext()
{
    if (!m_waiting.isEmpty() && m_failure.isEmpty())
        m_engine->say(m_waiting.takeFirst());
}
