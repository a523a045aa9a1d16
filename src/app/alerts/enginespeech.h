#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "app/alerts/alertoutputs.h"

class QTextToSpeech;

// The spoken alerts, through Qt's text to speech with the desktop's default
// engine and voice. The engine is started with the first sentence, so a
// viewer that never says anything never loads one.
class EngineSpeech : public QObject, public AlertSpeech
{
    Q_OBJECT

public:
    // Sentences waiting for the one being said; past this the oldest go, as
    // an operator wants the news and not a backlog read out.
    static constexpr int MaxWaiting = 3;

    explicit EngineSpeech(QObject *parent = nullptr);

    Result<void> say(const QString &sentence) override;

private:
    void sayNext();

    QPointer<QTextToSpeech> m_engine;
    QString m_failure;  // why the engine cannot speak, once it is known
    QStringList m_waiting;
};
