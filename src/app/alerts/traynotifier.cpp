#include "app/alerts/traynotifier.h"

#include <QApplication>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

constexpr int MessageShownMs = 10000;

} // namespace

TrayNotifier::TrayNotifier(QWidget &window)
    : m_window(window)
{
}

void TrayNotifier::notify(alerts::Level level, const QString &title, const QString &message)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_icon) {
        QIcon icon = m_window.windowIcon();
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        m_icon = new QSystemTrayIcon(icon, this);
        m_icon->setToolTip(m_window.windowTitle().trimmed());
        connect(m_icon, &QSystemTrayIcon::messageClicked, this, &TrayNotifier::bringWindowForward);
        connect(m_icon, &QSystemTrayIcon::activated, this, &TrayNotifier::bringWindowForward);
        m_icon->show();
    }
    m_icon->showMessage(title, message,
                        level == alerts::Level::Critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Warning,
                        MessageShownMs);
}

void TrayNotifier::bringWindowForward()
{
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}
