#pragma once

#include <QWidget>

class AlarmKeeper;
class QLabel;
class QPushButton;
class QTreeWidget;

// The alarm list (fm_alarms): a row per alert condition of a unit, those
// waiting for an acknowledgement first, then the newest; each row's level
// marked by a shape and a word as well as a colour. "Acknowledge" takes
// the selected row, "Acknowledge unit" every row of the selected row's
// unit, in the user's login name. It shows the keeper's book and changes it
// only through the keeper.
class AlarmListWindow : public QWidget
{
    Q_OBJECT

public:
    explicit AlarmListWindow(AlarmKeeper &alarms, QWidget *parent = nullptr);

    // Shows the window and brings it forward.
    void present();

private:
    void refill();
    void acknowledgeSelected(bool wholeUnit);
    void selectionChanged();

    AlarmKeeper &m_alarms;
    QLabel *m_summary = nullptr;
    QTreeWidget *m_rows = nullptr;
    QPushButton *m_acknowledge = nullptr;
    QPushButton *m_acknowledgeUnit = nullptr;
};
