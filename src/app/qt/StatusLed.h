// The status light: a small filled rectangle with a thin black outline whose
// fill tells the operator how the last poll went.
#pragma once

#include "core/OperatorDisplay.h"

#include <QColor>
#include <QWidget>

namespace movik {

class StatusLed : public QWidget
{
    Q_OBJECT
public:
    explicit StatusLed(QWidget* parent = nullptr);

    void setLight(StatusLight light);
    QColor fill() const { return m_fill; }

    // The light's fill (fillOf) as Qt draws it.
    static QColor colourOf(StatusLight light);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
};

} // namespace movik
