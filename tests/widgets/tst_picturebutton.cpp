#include "widgets/cpicturebutton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

const QColor kBackground(0x10, 0x20, 0x30);
const QColor kFace(100, 150, 200);

// A 20 x 10 picture of one colour with a transparent last column and row,
// so that a one-pixel shift shows at both edges.
QImage picture(const QColor &face)
{
    QImage img(20, 10, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 19; ++x)
            img.setPixelColor(x, y, face);
    return img;
}

struct Parent
{
    QWidget window;
    CPictureButton *button = nullptr;
    Parent()
    {
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, kBackground);
        window.setPalette(pal);
        window.setAutoFillBackground(true);
        window.resize(100, 60);
        button = new CPictureButton(&window);
        button->setGeometry(10, 10, 20, 10);
        window.show();
    }
    // What the screen shows where the button is.
    QImage shot()
    {
        QApplication::processEvents();
        return window.grab(button->geometry()).toImage();
    }
};

} // namespace

class TstPictureButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void colourMatricesOfHoverAndGrey()
    {
        const QImage bright = CPictureButton::brightened(picture(kFace));
        // 1.05 x + 0.05 per channel: 100 -> 118, 150 -> 170, 200 -> 223.
        QCOMPARE(bright.pixelColor(0, 0), QColor(118, 170, 223));
        QCOMPARE(CPictureButton::brightened(picture(Qt::white)).pixelColor(0, 0),
                 QColor(Qt::white));
        QCOMPARE(bright.pixelColor(19, 9).alpha(), 0); // transparency stays
        // 0.3 R + 0.59 G + 0.11 B into every channel.
        QCOMPARE(CPictureButton::greyed(picture(QColor(0, 255, 0))).pixelColor(0, 0),
                 QColor(150, 150, 150));
        QCOMPARE(CPictureButton::greyed(picture(QColor(0, 0, 255))).pixelColor(0, 0),
                 QColor(28, 28, 28));
    }

    void statesOverTheBackground()
    {
        Parent p;
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QVERIFY(p.button->loadStandardPicture(picture(kFace)));

        QImage s = p.shot();
        QCOMPARE(p.button->currentSurface(), CPictureButton::Surface::Normal);
        QCOMPARE(s.pixelColor(0, 0), kFace);
        QCOMPARE(s.pixelColor(19, 9), kBackground); // the background shows through

        // Pressed: one pixel down and right over the unchanged background.
        QTest::mousePress(p.button, Qt::LeftButton, {}, QPoint(5, 5));
        s = p.shot();
        QCOMPARE(p.button->currentSurface(), CPictureButton::Surface::Pressed);
        QCOMPARE(s.pixelColor(0, 0), kBackground);
        QCOMPARE(s.pixelColor(1, 1), kFace);
        QCOMPARE(s.pixelColor(19, 9), kFace);
        QTest::mouseRelease(p.button, Qt::LeftButton, {}, QPoint(5, 5));

        // Hover without a hover picture brightens the standard one.
        QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
        QApplication::sendEvent(p.button, &enter);
        QVERIFY(p.button->hovered());
        s = p.shot();
        QCOMPARE(p.button->currentSurface(), CPictureButton::Surface::Hover);
        QCOMPARE(s.pixelColor(0, 0), QColor(118, 170, 223));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(p.button, &leave);
        QVERIFY(!p.button->hovered());
        QCOMPARE(p.shot().pixelColor(0, 0), kFace);

        // A hover picture of its own is brightened as well.
        QVERIFY(p.button->loadHoverPicture(picture(QColor(0, 0, 200))));
        QApplication::sendEvent(p.button, &enter);
        QCOMPARE(p.shot().pixelColor(0, 0), QColor(13, 13, 223));
        QApplication::sendEvent(p.button, &leave);

        // The disabled look wins over every other state.
        p.button->setDisabledLook(true);
        p.button->setEnabled(false);
        s = p.shot();
        QCOMPARE(p.button->currentSurface(), CPictureButton::Surface::Grey);
        const int grey = qRound(0.3 * 100 + 0.59 * 150 + 0.11 * 200 - 0.01);
        QVERIFY(qAbs(s.pixelColor(0, 0).red() - grey) <= 1);
        QCOMPARE(s.pixelColor(0, 0).red(), s.pixelColor(0, 0).blue());
        p.button->setEnabled(true);
        p.button->setDisabledLook(false);
        QCOMPARE(p.shot().pixelColor(0, 0), kFace);
    }

    void resourcePicturesAndAMissingOne()
    {
        Parent p;
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QVERIFY(p.button->loadStandardPicture(199));
        QCOMPARE(p.button->sizeHint(), QSize(100, 44));
        QVERIFY(p.button->loadHoverPicture(234));

        // A missing resource leaves no picture: nothing of its own is drawn,
        // and the button still clicks.
        QVERIFY(!p.button->loadStandardPicture(99999));
        QVERIFY(!p.button->hasPicture());
        const QImage s = p.shot();
        QCOMPARE(s.pixelColor(0, 0), kBackground);
        QCOMPARE(s.pixelColor(10, 5), kBackground);
        QCOMPARE(p.button->currentSurface(), CPictureButton::Surface::None);
        QSignalSpy clicked(p.button, &QAbstractButton::clicked);
        QTest::mouseClick(p.button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicked.count(), 1);
    }

    void aFastDoubleClickIsTwoClicks()
    {
        Parent p;
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        p.button->loadStandardPicture(picture(kFace));
        QSignalSpy clicked(p.button, &QAbstractButton::clicked);
        const QPointF pos(5, 5);
        const QPointF global = p.button->mapToGlobal(pos);
        auto send = [&](QEvent::Type type) {
            QMouseEvent e(type, pos, global, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
            QApplication::sendEvent(p.button, &e);
        };
        send(QEvent::MouseButtonPress);
        send(QEvent::MouseButtonRelease);
        send(QEvent::MouseButtonDblClick);
        send(QEvent::MouseButtonRelease);
        QCOMPARE(clicked.count(), 2);
    }

    void tooltipText()
    {
        Parent p;
        p.button->setToolTipText(QStringLiteral("연결이 안되는 이유를 알아볼까요?"));
        QCOMPARE(p.button->toolTip(), QStringLiteral("연결이 안되는 이유를 알아볼까요?"));
        p.button->setToolTipText(QString()); // an empty text changes nothing
        QCOMPARE(p.button->toolTip(), QStringLiteral("연결이 안되는 이유를 알아볼까요?"));
        p.button->setToolTipText(QStringLiteral("숨김"), false);
        QCOMPARE(p.button->toolTipText(), QStringLiteral("숨김"));
        QVERIFY(p.button->toolTip().isEmpty());
    }
};

QTEST_MAIN(TstPictureButton)
#include "tst_picturebutton.moc"
