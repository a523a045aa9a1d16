#pragma once

#include <QWidget>

#include "rules/trends/gasratios.h"

// Pixler's plot of the methane ratios (pic_pixler): C1/C2 to C1/C5 across,
// each on a logarithmic scale from 1 to 1000, over the zones C1/C2 names
// (not productive below 2 and above 65, oil from 2 to 15, gas from 15 to
// 65). The points of one reading are joined; a ratio with no value leaves
// a gap, never a point at the bottom.
class PixlerPlot : public QWidget
{
    Q_OBJECT

public:
    explicit PixlerPlot(QWidget *parent = nullptr);

    // The ratios shown and what they are of ("cursor", "latest"); none:
    // an empty plot.
    void setRatios(const trends::GasRatios &ratios, const QString &caption);
    const trends::GasRatios &ratios() const { return m_ratios; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    trends::GasRatios m_ratios;
    QString m_caption;
};
