#pragma once

#include <QWidget>

#include <functional>

// The toolbar's image button. It fires Onclick as soon as the left mouse button goes down
// on it, with the button as Sender, and shows its Hint as a tooltip. Until the sprite strips
// are drawn it paints a plain face with the first character of its hint.
class Tvrpngbtn : public QWidget {
    Q_OBJECT
public:
    using Tclickevent = std::function<void(QObject* Sender)>;

    explicit Tvrpngbtn(QWidget* owner);

    void setHint(const QString& hint);
    QString hint() const { return toolTip(); }

    Tclickevent Onclick;

    // 0 normal, 1 hot (pointer over it), 2 pressed.
    int state() const { return m_state; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_state = 0;
};
