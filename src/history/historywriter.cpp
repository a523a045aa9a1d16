#include "history/historywriter.h"

#include <QThread>

HistoryWriter::HistoryWriter(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("HistoryWriter"));
}

HistoryWriter::~HistoryWriter()
{
    stop();
}

HistoryResult<void> HistoryWriter::start()
{
    return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("the history writer is not built yet")});
}

bool HistoryWriter::stop()
{
    return true;
}

bool HistoryWriter::isRunning() const
{
    return false;
}

void HistoryWriter::submit(history::Batch)
{
}

void HistoryWriter::retryNow()
{
}

bool HistoryWriter::sync()
{
    return true;
}
