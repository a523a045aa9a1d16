#pragma once

#include <functional>
#include <vector>

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QWidget>

#include "rules/board/fleettile.h"

class FleetBoardModel;
class QLabel;
class QLineEdit;
class QScrollArea;
class QTimer;
class TileGrid;

struct FleetBoardOptions
{
    // The unit's trends; the serial put in the serial box and connected.
    std::function<void(const QString &unit)> openTrends;
    std::function<void(const QString &unit)> watch;
    // The viewer's stale limit in seconds (0: readings never turn stale).
    int staleSeconds = 30;
    // Whether a unit's critical conditions are all acknowledged; none
    // counts every one as not.
    board::Acknowledged acknowledged;
    // A tile's condition started (or changed level) or ended, for the
    // alarm list; either may be empty.
    std::function<void(const QString &unit, const board::TileCondition &condition)> conditionStarted;
    std::function<void(const QString &unit, alerts::Kind kind)> conditionEnded;
    // UTC milliseconds of the wall clock; none means the computer's.
    std::function<qint64()> clock;
};

// The fleet board fm_fleet: one tile per unit of the history, worst first,
// each with the gas in large figures and its level by colour, word and
// shape, the unit's alarm blinking as the panel blinks it, the depths, the
// ROP, the data age and the last hour's gas. A tile is dimmed once its data
// is older than the stale limit and reads "NO DATA" when the recorder lost
// its link. The tiles grow with the window, to be read across a room. The
// filter box narrows them by unit; the arrows move between them, Enter
// opens the unit's trends, and "Watch on panel" connects the main window to
// it. The tiles come from a FleetBoardModel, which follows the history.
class FleetBoard : public QWidget
{
    Q_OBJECT

public:
    explicit FleetBoard(FleetBoardOptions options, QWidget *parent = nullptr);
    ~FleetBoard() override;

    // Follows the history at the address (the viewer's history source).
    void follow(const QString &address);
    void present();

    const FleetBoardModel &model() const { return *m_model; }
    // The units shown, in their order on the board, and the one chosen.
    QStringList shownUnits() const;
    QString currentUnit() const;
    // Where the unit's tile lies on the tiles' widget (pic_tiles); empty
    // when it is not shown.
    QRect tileRect(const QString &unit) const;
    void setCurrentUnit(const QString &unit);
    // How many lines of the hour are kept drawn: those of the tiles in
    // sight, whatever the number of units.
    int keptLines() const;
    void setStaleSeconds(int seconds);

    void watchCurrent();
    void openCurrentTrends();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void arrange();
    void tellConditions(qint64 now);
    void showProblem();

    FleetBoardOptions m_options;
    FleetBoardModel *m_model = nullptr;
    QLineEdit *txt_filter = nullptr;
    QLabel *lbl_board = nullptr;
    QScrollArea *scr_tiles = nullptr;
    TileGrid *m_grid = nullptr;
    QTimer *m_clock = nullptr;
    QElapsedTimer m_arranged;
    // Each unit's conditions as last told.
    QHash<QString, std::vector<board::TileCondition>> m_told;
};
