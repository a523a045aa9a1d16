#pragma once

#include <QObject>
#include <QPointer>

#include "app/alerts/alertoutputs.h"

class QSystemTrayIcon;
class QWidget;

// Desktop notifications through the system tray, where the desktop has one.
// The tray icon appears with the first message and stays; clicking it or a
// message brings the main window forward.
class TrayNotifier : public QObject, public AlertNotifier
{
    Q_OBJECT

public:
    explicit TrayNotifier(QWidget &window);

    void notify(alerts::Level level, const QString &title, const QString &message) override;

private:
    void bringWindowForward();

    QWidget &m_window;
    QPointer<QSystemTrayIcon> m_icon;
};
