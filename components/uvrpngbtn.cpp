#include "components/uvrpngbtn.h"

#include <QMouseEvent>
#include <QPainter>

Tvrpngbtn::Tvrpngbtn(QWidget* owner)
    : QWidget(owner), m_backcolor(palette().color(QPalette::Button)) {
    // No background of its own (no autofill, not opaque): Qt paints the parent under the
    // button first, so every pixel the frame leaves transparent shows the banner.
    setCursor(Qt::ArrowCursor);
}

void Tvrpngbtn::setHint(const QString& hint) {
    setToolTip(hint);
}

void Tvrpngbtn::setPicture(const QImage& picture) {
    // The button keeps its own value (QImage copies on write); premultiplied blends fastest.
    m_picture =
        picture.isNull() ? QImage() : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // A new size starts a fresh surface; at the same size the new frame is blended over
    // what the button shows, like any other repaint.
    if (fitToPicture()) {
        if (isVisible())
            repaint();
    } else {
        layFrame();
    }
}

QSize Tvrpngbtn::frameSize() const {
    return {m_picture.width() / 4, m_picture.height()};
}

bool Tvrpngbtn::fitToPicture() {
    if (m_picture.isNull())
        return false;
    const QSize frame = frameSize();
    if (size() != frame)
        resize(frame);
    if (m_surface.size() == frame)
        return false;
    resetSurface();
    return true;
}

void Tvrpngbtn::resetSurface() {
    const QSize frame = frameSize();
    if (m_picture.isNull() || frame.isEmpty()) {
        m_surface = QImage();
        return;
    }
    m_surface = QImage(frame, QImage::Format_ARGB32_Premultiplied);
    m_surface.fill(Qt::transparent);
    QPainter p(&m_surface);
    p.drawImage(QPoint(frameX(), 0), m_picture);
}

int Tvrpngbtn::frameX() const {
    // Frames are W div 4 wide; the pressed one starts at W div 2 even when W is not a
    // multiple of 4.
    switch (m_state) {
        case 1:
            return -(m_picture.width() / 4);
        case 2:
            return -(m_picture.width() / 2);
        default:
            return 0;
    }
}

void Tvrpngbtn::layFrame() {
    if (!m_picture.isNull()) {
        if (m_surface.isNull()) {
            resetSurface();
        } else {
            // Over what the surface already shows, as a native window without an erase
            // would: the hot and pressed frames pile up until the pointer leaves.
            QPainter p(&m_surface);
            p.drawImage(QPoint(frameX(), 0), m_picture);
        }
    }
    if (isVisible())
        repaint();
}

void Tvrpngbtn::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_picture.isNull()) {
        // A plain borderless panel.
        p.fillRect(rect(), palette().color(QPalette::Window));
        return;
    }
    fitToPicture();
    // Scaled (high-DPI screens) frames stay smooth rather than blocky.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QPoint(0, 0), m_surface);
}

void Tvrpngbtn::enterEvent(QEnterEvent*) {
    if (m_picture.isNull())
        return;
    m_state = 1;
    layFrame();
}

void Tvrpngbtn::leaveEvent(QEvent*) {
    if (m_picture.isNull())
        return;
    m_state = 0;
    // Back to the parent's painting alone, then the normal frame: no trace of the hot frame.
    resetSurface();
    if (isVisible())
        repaint();
}

void Tvrpngbtn::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_state = 2;
    layFrame();
    if (Onclick)
        Onclick(this);
}

void Tvrpngbtn::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_state = 0;
    layFrame();
}
