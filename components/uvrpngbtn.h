#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <functional>

// The toolbar's image button. It shows one frame of a sprite strip (four frames side by side:
// normal, hot, pressed, unused) blended over whatever its parent paints beneath it, fires
// Onclick as soon as the left mouse button goes down on it, with the button as Sender, and
// shows its Hint as a tooltip. Its size follows the strip: a W x H strip makes a W/4 x H button.
class Tvrpngbtn : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage picture READ picture WRITE setPicture)
    Q_PROPERTY(QColor backcolor READ backcolor WRITE setBackcolor)
public:
    using Tclickevent = std::function<void(QObject* Sender)>;

    explicit Tvrpngbtn(QWidget* owner);

    // The sprite strip. Assigning copies the image and repaints in the current state.
    const QImage& picture() const { return m_picture; }
    void setPicture(const QImage& picture);

    // Kept with the button's settings; painting does not use it.
    QColor backcolor() const { return m_backcolor; }
    void setBackcolor(const QColor& color) { m_backcolor = color; }

    void setHint(const QString& hint);
    QString hint() const { return toolTip(); }

    Tclickevent Onclick;

    // 0 normal, 1 hot (pointer over it), 2 pressed.
    int state() const { return m_state; }

    // What the button lays over its parent's painting: the frames blended since the pointer
    // last left (or the picture's size last changed), at the size of one frame.
    const QImage& surface() const { return m_surface; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QSize frameSize() const;
    // Where the strip is drawn so that the button shows the frame of its state.
    int frameX() const;
    // Sizes the button from the strip; true when the surface had to start afresh.
    bool fitToPicture();
    // Blends the frame of the current state over the surface and repaints at once.
    void layFrame();
    void resetSurface();

    QImage m_picture;
    QImage m_surface;
    QColor m_backcolor;
    int m_state = 0;
};
