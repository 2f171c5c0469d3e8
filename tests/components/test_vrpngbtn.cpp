#include "components/uvrpngbtn.h"

#include <QEnterEvent>
#include <QPainter>
#include <QToolTip>
#include <QtTest>

namespace {

const QColor kBanner(40, 90, 160);

// The banner stand-in: one flat colour under the button.
class Parent : public QWidget {
public:
    Parent() { resize(120, 60); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kBanner); }
};

// A strip of four frames of the given colours, each frame fw x h.
QImage strip(int fw, int h, const QColor (&frames)[4], int width = -1) {
    QImage img(width < 0 ? fw * 4 : width, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    for (int k = 0; k < 4; ++k)
        p.fillRect(k * fw, 0, fw, h, frames[k]);
    return img;
}

// What the user sees at (x, y) of the button: the parent and the button drawn together.
QColor seen(Parent& parent, Tvrpngbtn& btn, int x, int y) {
    return parent.grab().toImage().pixelColor(btn.pos() + QPoint(x, y));
}

void enter(Tvrpngbtn& btn) {
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&btn, &e);
}

void leave(Tvrpngbtn& btn) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&btn, &e);
}

// Channels within one step of rounding.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

QColor over(const QColor& src, const QColor& dst) {
    const double a = src.alphaF();
    return QColor::fromRgbF(src.redF() * a + dst.redF() * (1 - a),
                            src.greenF() * a + dst.greenF() * (1 - a),
                            src.blueF() * a + dst.blueF() * (1 - a));
}

}  // namespace

class VrpngbtnTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Normal, hot and pressed show frames 0, 1 and 2; frame 3 never shows.
    void framesByState() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        btn.move(10, 10);
        const QColor frames[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        btn.setPicture(strip(32, 32, frames));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        QCOMPARE(seen(parent, btn, 16, 16), QColor(Qt::red));
        enter(btn);
        QCOMPARE(btn.state(), 1);
        QCOMPARE(seen(parent, btn, 16, 16), QColor(Qt::green));
        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(btn.state(), 2);
        QCOMPARE(seen(parent, btn, 16, 16), QColor(Qt::blue));
        QTest::mouseRelease(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(btn.state(), 0);
        QCOMPARE(seen(parent, btn, 16, 16), QColor(Qt::red));
        leave(btn);
        QCOMPARE(seen(parent, btn, 0, 0), QColor(Qt::red));
        QCOMPARE(seen(parent, btn, 31, 31), QColor(Qt::red));
        // Just outside the button: the banner.
        QCOMPARE(seen(parent, btn, 32, 31), kBanner);
    }

    // Translucent frames: hot and pressed are blended over the frames before them until the
    // pointer leaves; the leave starts again from the parent's painting alone.
    void layeringAndCleanLeave() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        btn.move(10, 10);
        const QColor f0(255, 0, 0, 128), f1(0, 255, 0, 128), f2(0, 0, 255, 128);
        const QColor frames[4] = {f0, f1, f2, QColor(255, 255, 0, 255)};
        btn.setPicture(strip(29, 29, frames));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        const QColor normal = over(f0, kBanner);
        QVERIFY2(near(seen(parent, btn, 5, 5), normal), "normal frame over the banner");
        enter(btn);
        const QColor hot = over(f1, normal);
        QVERIFY2(near(seen(parent, btn, 5, 5), hot), "hot frame over the normal one");
        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        const QColor pressed = over(f2, hot);
        QVERIFY2(near(seen(parent, btn, 5, 5), pressed), "pressed frame over the hot one");
        // A repaint for another reason (an exposure) shows the same pile, not a fresh frame.
        btn.update();
        QVERIFY(near(seen(parent, btn, 5, 5), pressed));
        QTest::mouseRelease(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(near(seen(parent, btn, 5, 5), over(f0, pressed)));
        leave(btn);
        QVERIFY2(near(seen(parent, btn, 5, 5), normal), "no remains of the hot frame");
    }

    // One Onclick per left press, none on release; right and middle do nothing at all.
    void clicks() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        const QColor frames[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        btn.setPicture(strip(32, 32, frames));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        int clicks = 0;
        QObject* sender = nullptr;
        int stateDuringClick = -1;
        btn.Onclick = [&](QObject* s) {
            ++clicks;
            sender = s;
            stateDuringClick = btn.state();
        };
        QTest::mouseMove(&btn, QPoint(5, 5));
        QTRY_COMPARE(btn.state(), 1);
        const QImage before = parent.grab().toImage();
        for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
            QTest::mousePress(&btn, b, {}, QPoint(5, 5));
            QTest::mouseRelease(&btn, b, {}, QPoint(5, 5));
            QTest::mouseDClick(&btn, b, {}, QPoint(5, 5));
        }
        QCOMPARE(clicks, 0);
        QCOMPARE(btn.state(), 1);
        QCOMPARE(parent.grab().toImage(), before);

        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks, 1);
        QCOMPARE(sender, &btn);
        QCOMPARE(stateDuringClick, 2);  // the pressed frame is up before the handler runs
        QTest::mouseRelease(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks, 1);
        // The release counts wherever it happens.
        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&btn, Qt::LeftButton, {}, QPoint(90, 50));
        QCOMPARE(clicks, 2);
        QCOMPARE(btn.state(), 0);
    }

    // The strip decides the size, whatever size was stored, on every paint.
    void sizeFromStrip_data() {
        QTest::addColumn<QSize>("strip");
        QTest::addColumn<QSize>("button");
        QTest::newRow("128x32") << QSize(128, 32) << QSize(32, 32);
        QTest::newRow("116x29") << QSize(116, 29) << QSize(29, 29);
        QTest::newRow("76x28") << QSize(76, 28) << QSize(19, 28);
        QTest::newRow("width not a multiple of 4") << QSize(130, 20) << QSize(32, 20);
    }
    void sizeFromStrip() {
        QFETCH(QSize, strip);
        QFETCH(QSize, button);
        Parent parent;
        Tvrpngbtn btn(&parent);
        btn.setGeometry(4, 4, 50, 50);
        QImage img(strip, QImage::Format_ARGB32);
        img.fill(Qt::red);
        btn.setPicture(img);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QCOMPARE(btn.size(), button);
        btn.resize(40, 40);  // a stored size from elsewhere
        btn.repaint();
        QCOMPARE(btn.size(), button);
    }

    // W = 10: frames are 2 pixels wide; the pressed state draws from column W div 2 = 5.
    void oddWidthPressedOffset() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        QImage img(10, 4, QImage::Format_ARGB32);
        for (int x = 0; x < 10; ++x)
            for (int y = 0; y < 4; ++y)
                img.setPixelColor(x, y, QColor(x * 20, 0, 0));
        btn.setPicture(img);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QCOMPARE(btn.size(), QSize(2, 4));
        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(0, 0));
        QCOMPARE(seen(parent, btn, 0, 0), QColor(100, 0, 0));
        QCOMPARE(seen(parent, btn, 1, 0), QColor(120, 0, 0));
    }

    // Without a picture: a plain panel, no enter or leave transitions, but the press works.
    void emptyPicture() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        btn.setGeometry(4, 4, 20, 20);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        int clicks = 0;
        btn.Onclick = [&](QObject*) { ++clicks; };
        enter(btn);
        QCOMPARE(btn.state(), 0);
        QCOMPARE(btn.size(), QSize(20, 20));
        QTest::mousePress(&btn, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(btn.state(), 2);
        QCOMPARE(clicks, 1);
        QCOMPARE(seen(parent, btn, 10, 10), btn.palette().color(QPalette::Window));
    }

    // picture is copied on assignment and repaints; backcolor is kept and never painted.
    void properties() {
        Parent parent;
        Tvrpngbtn btn(&parent);
        btn.move(10, 10);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QCOMPARE(btn.backcolor(), btn.palette().color(QPalette::Button));
        const QColor frames[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        QImage img = strip(32, 32, frames);
        QVERIFY(btn.setProperty("picture", img));
        img.fill(Qt::black);  // the button holds its own copy
        QCOMPARE(btn.picture().pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(seen(parent, btn, 3, 3), QColor(Qt::red));
        enter(btn);
        const QColor other[4] = {Qt::cyan, Qt::magenta, Qt::white, Qt::yellow};
        btn.setPicture(strip(32, 32, other));  // repaints in the current state
        QCOMPARE(seen(parent, btn, 3, 3), QColor(Qt::magenta));
        QVERIFY(btn.setProperty("backcolor", QColor(Qt::darkGreen)));
        QCOMPARE(btn.backcolor(), QColor(Qt::darkGreen));
        QCOMPARE(seen(parent, btn, 3, 3), QColor(Qt::magenta));

        // The hint shows as a tooltip when the pointer rests on the button.
        btn.setHint(QString::fromUtf8("下载列表"));
        QHelpEvent help(QEvent::ToolTip, QPoint(3, 3), btn.mapToGlobal(QPoint(3, 3)));
        QCoreApplication::sendEvent(&btn, &help);
        QTRY_COMPARE(QToolTip::text(), QString::fromUtf8("下载列表"));
    }
};

QTEST_MAIN(VrpngbtnTest)
#include "test_vrpngbtn.moc"
