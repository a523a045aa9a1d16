#pragma once

#include <QByteArray>
#include <QString>

class QMenu;
class QWidget;
class TrafficWindow;
class UnitLink;

// What the parts composed around the main window (the alerts, the history,
// the trends, the right-click extras) may ask of it. They see the window
// through this and nothing else: none of them looks up its controls, so the
// window can change its panel without breaking them.
class ViewerWindow
{
public:
    virtual ~ViewerWindow() = default;

    // One report line in the traffic window (the window's disply_text).
    virtual void reportLine(const QByteArray &line) = 0;
    // The serial number that stands in the serial box now.
    virtual QString chosenUnit() const = 0;
    // Draws the readings dimmed while they are not current.
    virtual void showReadingsStale(bool stale) = 0;
    // The window has the operator's attention.
    virtual bool isActive() const = 0;
    // The right-click menu, where everything beside the panel is reached.
    virtual QMenu *extrasMenu() const = 0;
    // The panel's scale in percent (one of its zoom steps).
    virtual void setZoom(int percent) = 0;
    // Where the configuration files are read from.
    virtual const QString &programDirectory() const = 0;
    // The window itself: the parent of dialogs, where function keys go.
    virtual QWidget &widget() = 0;
    // Where a small indicator (the alerts' mute) stands on the window
    // without covering a reading: the widget that becomes its parent, over
    // whose right end it keeps.
    virtual QWidget &indicatorPlace() = 0;
    // Watches another unit as the operator would: the serial typed into the
    // serial box (which drops the link, as a key there does) and connected.
    virtual void watchUnit(const QString &serial) = 0;

    // The owners the window composes, for whatever listens beside it.
    virtual UnitLink &unitLink() = 0;
    virtual const TrafficWindow &trafficWindow() const = 0;
};
