#pragma once

#include <QImage>
#include <QPushButton>

class QPainter;

// A push button drawn as a picture over the window's background: the
// picture brightened while the mouse rests on the button, moved one pixel
// down and right while it is pressed, and grey while the disabled look is
// on. Pictures are the program's PNG resources, found by resource id.
class CPictureButton : public QPushButton
{
    Q_OBJECT
public:
    // What the button shows.
    enum class Surface { None, Normal, Pressed, Hover, Grey };

    explicit CPictureButton(QWidget *parent = nullptr);
    ~CPictureButton() override;

    // The resource ":/png/<id>.png"; false (and no picture) when it is missing
    // or damaged.
    bool loadStandardPicture(int resourceId);
    bool loadHoverPicture(int resourceId);
    bool loadStandardPicture(const QImage &image);
    bool loadHoverPicture(const QImage &image);
    bool hasPicture() const { return !m_standard.isNull(); }

    // An empty text leaves the tooltip as it is.
    void setToolTipText(const QString &text, bool activate = true);
    QString toolTipText() const { return m_tipText; }

    void setDisabledLook(bool grey);
    bool disabledLook() const { return m_disabledLook; }
    bool hovered() const { return m_hovered; }

    // The surface the current state calls for, and its pixels over a given
    // background (what a paint of the button puts on the screen).
    Surface surfaceForState() const;
    Surface currentSurface() const { return m_current; }
    QImage render(Surface surface, const QImage &background) const;

    QSize sizeHint() const override;

    // The colour matrices applied to a picture's pixels.
    static QImage brightened(const QImage &picture);
    static QImage greyed(const QImage &picture);

    // Makes the program's resources available (the library is static).
    static void initResources();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void prepare();
    void drawSurface(QPainter &p, Surface surface) const;

    QImage m_standard;
    QImage m_hoverSource;
    QImage m_hoverImage; // prepared: brightened
    QImage m_greyImage; // prepared: grey
    bool m_prepared = false;
    bool m_disabledLook = false;
    bool m_hovered = false;
    QString m_tipText;
    Surface m_current = Surface::None;
};
