#pragma once

#include <QDialog>

class QString;

// The About window: what the program is, which build and Qt it runs, and
// where its files are. It does not block the main window, and its text can be
// selected and copied for a report.
class AboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit AboutBox(const QString &programDirectory, QWidget *parent = nullptr);

    // Shows the window, or brings it to the front when it is already open.
    void present();
};
