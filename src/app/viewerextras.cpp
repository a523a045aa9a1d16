#include "app/viewerextras.h"

#include <QAction>
#include <QMenu>

#include "alerts/alertcontroller.h"
#include "app/aboutbox.h"
#include "app/fm_more_data.h"

ViewerExtras::ViewerExtras(fm_more_data &window)
    : QObject(&window)
    , m_window(window)
{
    setObjectName(QStringLiteral("ViewerExtras"));
    addEntry(tr("About…"), QKeySequence(Qt::Key_F1), [this] { showAbout(); });

    m_alerts = new AlertController(window, AlertOptions(), this);
    addEntry(tr("Acknowledge alerts"), QKeySequence(Qt::Key_F3), [this] { m_alerts->acknowledge(); });
    addEntry(tr("Mute for 15 minutes"), QKeySequence(Qt::Key_F4), [this] { m_alerts->mute(); });
    QAction *sound = addEntry(tr("Alert sound"), QKeySequence(), [this] { m_alerts->setSoundOn(!m_alerts->soundOn()); });
    sound->setCheckable(true);
    sound->setChecked(m_alerts->soundOn());
}

ViewerExtras::~ViewerExtras()
{
    delete m_about.data();
}

QAction *ViewerExtras::addEntry(const QString &text, const QKeySequence &key, std::function<void()> triggered)
{
    auto *action = new QAction(text, &m_window);
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        m_window.addAction(action);
    }
    connect(action, &QAction::triggered, this, [triggered = std::move(triggered)] { triggered(); });
    m_window.extrasMenu()->addAction(action);
    return action;
}

void ViewerExtras::showAbout()
{
    if (!m_about)
        m_about = new AboutBox(m_window.programDirectory());
    m_about->present();
}
