#include "app/qt/StatusLed.h"

#include "app/MainWindowView.h"

#include <QPainter>

namespace movik {

StatusLed::StatusLed(QWidget* parent) : QWidget(parent), m_fill(colourOf(StatusLight::White)) {}

void StatusLed::setLight(StatusLight light)
{
    m_fill = colourOf(light);
    update();
}

QColor StatusLed::colourOf(StatusLight light)
{
    const LightFill fill = fillOf(light);
    return QColor(fill.red, fill.green, fill.blue);
}

void StatusLed::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A one-pixel pen on the outermost pixels, the fill inside them.
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fill);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace movik
