#include "components/uvrpngbtn.h"

#include <QMouseEvent>
#include <QPainter>

Tvrpngbtn::Tvrpngbtn(QWidget* owner) : QWidget(owner) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
}

void Tvrpngbtn::setHint(const QString& hint) {
    setToolTip(hint);
}

void Tvrpngbtn::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor face(255, 255, 255, m_state == 0 ? 60 : (m_state == 1 ? 120 : 170));
    p.setPen(QPen(QColor(255, 255, 255, 150), 1));
    p.setBrush(face);
    p.drawRoundedRect(r, 5, 5);
    const QString h = hint();
    if (!h.isEmpty()) {
        QFont f = font();
        f.setPixelSize(std::max(10, height() / 2));
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(20, 60, 120));
        p.drawText(rect(), Qt::AlignCenter, h.left(1));
    }
}

void Tvrpngbtn::enterEvent(QEnterEvent*) {
    m_state = 1;
    update();
}

void Tvrpngbtn::leaveEvent(QEvent*) {
    m_state = 0;
    update();
}

void Tvrpngbtn::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_state = 2;
    repaint();
    if (Onclick)
        Onclick(this);
}

void Tvrpngbtn::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_state = 0;
    repaint();
}
