#pragma once

#include <QDialog>

class HistoryProbe;
class HistorySource;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "History source…": chooses the history the trends window and the fleet
// board read, the
// viewer's own file or a shared store on a PostgreSQL server, and tries the
// server before or after choosing it. The try runs off this thread
// (HistoryProbe); what it found is shown as plain text in the dialog. The
// choice is the HistorySource's, which refuses an address with a password.
class HistorySourceDialog : public QDialog
{
    Q_OBJECT

public:
    HistorySourceDialog(HistorySource &source, QWidget *parent = nullptr);

    // What the dialog says about the address tried or chosen.
    QString resultText() const;

    // Tries the address in the box; the answer shows in the dialog.
    void tryServer();
    // Takes the choice: closes the dialog, or says why not and stays.
    void accept() override;

private:
    void modeChanged();
    void answered(const QString &address, const QString &failure);

    HistorySource &m_source;
    HistoryProbe *m_probe = nullptr;
    QRadioButton *opt_local = nullptr;
    QRadioButton *opt_server = nullptr;
    QLineEdit *txt_uri = nullptr;
    QPushButton *cmd_test = nullptr;
    QLabel *lbl_result = nullptr;
};
