// The main window's reading of its settings file at start-up.

#include "app/fm_more_data.h"

#include "rules/config/settingsfile.h"
#include "link/unitlink.h"

void fm_more_data::LoadIniFile()
{
    // The parser names WITS items from the table, so the link keeps it.
    WitsTable table;
    const QList<QByteArray> reports = ::LoadIniFile(m_options.programDirectory, table);
    m_link->setWitsTable(table);
    for (const QByteArray &line : reports)
        disply_text(line);
}
