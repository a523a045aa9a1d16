// The main window's reading of its settings file at start-up.

#include "app/fm_more_data.h"

#include "config/settingsfile.h"

void fm_more_data::LoadIniFile()
{
    const QList<QByteArray> reports = ::LoadIniFile(programDirectory(), m_wits);
    for (const QByteArray &line : reports)
        disply_text(line);
}
