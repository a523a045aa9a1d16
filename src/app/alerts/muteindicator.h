#pragma once

#include <QLabel>

class AlertController;

// Shown in a viewer window while the alerts are muted, with the time left,
// counting down with the controller, gone when the mute ends. Any window
// can hold one; each follows the one controller. Across the top of a
// window it reads "Alerts muted, 14:59 left"; where room is short it reads
// "MUTED 14:59".
class MuteIndicator : public QLabel
{
    Q_OBJECT

public:
    MuteIndicator(const AlertController &alerts, QWidget *parent);

    // For a place that is no layout: the indicator, in its short form,
    // stands over its parent's right end, as high as the parent allows, and
    // keeps there as the parent changes size or font.
    void keepAtRightEnd();

    // The text for so many seconds left, long or short.
    static QString textFor(int secondsLeft, bool brief);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showLeft(int secondsLeft);
    void place();

    bool m_brief = false;
    int m_secondsLeft = 0;
};
