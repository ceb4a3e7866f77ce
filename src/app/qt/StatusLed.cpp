#include "app/qt/StatusLed.h"

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
    switch (light) {
    case StatusLight::Red:
        return QColor(255, 0, 0);
    case StatusLight::Lime:
        return QColor(0, 255, 0);
    case StatusLight::White:
        break;
    }
    return QColor(255, 255, 255);
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
