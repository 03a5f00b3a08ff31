#include "cpicturebutton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

// Q_INIT_RESOURCE must not stand inside a namespace.
static void initKvoResources()
{
    Q_INIT_RESOURCE(kvo);
}

void CPictureButton::initResources()
{
    static const bool done = [] {
        initKvoResources();
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

// A 5 x 5 colour matrix applied to straight (not premultiplied) RGBA in
// 0..1: rows are the contributions of red, green, blue, alpha and the constant.
using Matrix = float[5][5];

constexpr Matrix kBrighten = {
    {1.05f, 0, 0, 0, 0}, {0, 1.05f, 0, 0, 0},         {0, 0, 1.05f, 0, 0},
    {0, 0, 0, 1, 0},     {0.05f, 0.05f, 0.05f, 0, 1},
};

constexpr Matrix kGrey = {
    {0.3f, 0.3f, 0.3f, 0, 0},
    {0.59f, 0.59f, 0.59f, 0, 0},
    {0.11f, 0.11f, 0.11f, 0, 0},
    {0, 0, 0, 1, 0},
    {0, 0, 0, 0, 1},
};

int channel(float v)
{
    return std::clamp(int(v * 255.0f + 0.5f), 0, 255);
}

QImage applyMatrix(const QImage &source, const Matrix &m)
{
    if (source.isNull())
        return {};
    QImage img = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = line[x];
            const float in[4] = {qRed(p) / 255.0f, qGreen(p) / 255.0f, qBlue(p) / 255.0f,
                                 qAlpha(p) / 255.0f};
            float out[4];
            for (int c = 0; c < 4; ++c)
                out[c] =
                    in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + in[3] * m[3][c] + m[4][c];
            line[x] = qRgba(channel(out[0]), channel(out[1]), channel(out[2]), channel(out[3]));
        }
    }
    return img;
}

QImage loadResource(int id)
{
    CPictureButton::initResources();
    QImage img(QStringLiteral(":/png/%1.png").arg(id), "PNG");
    return img;
}

} // namespace

CPictureButton::CPictureButton(QWidget *parent) : QPushButton(parent)
{
    initResources();
    // The picture is the whole face: no frame, no background of its own, and
    // Enter never presses it by default.
    setFlat(true);
    setAutoDefault(false);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

CPictureButton::~CPictureButton() = default;

QImage CPictureButton::brightened(const QImage &picture)
{
    return applyMatrix(picture, kBrighten);
}

QImage CPictureButton::greyed(const QImage &picture)
{
    return applyMatrix(picture, kGrey);
}

bool CPictureButton::loadStandardPicture(int resourceId)
{
    return loadStandardPicture(loadResource(resourceId));
}

bool CPictureButton::loadHoverPicture(int resourceId)
{
    return loadHoverPicture(loadResource(resourceId));
}

bool CPictureButton::loadStandardPicture(const QImage &image)
{
    m_standard = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32);
    m_prepared = false;
    m_current = Surface::None;
    update();
    return !m_standard.isNull();
}

bool CPictureButton::loadHoverPicture(const QImage &image)
{
    m_hoverSource = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32);
    m_prepared = false;
    update();
    return !m_hoverSource.isNull();
}

void CPictureButton::setToolTipText(const QString &text, bool activate)
{
    if (text.isEmpty())
        return;
    m_tipText = text;
    setToolTip(activate ? text : QString());
    setToolTipDuration(-1);
}

void CPictureButton::setDisabledLook(bool grey)
{
    if (m_disabledLook == grey)
        return;
    m_disabledLook = grey;
    update();
}

void CPictureButton::prepare()
{
    if (m_prepared || m_standard.isNull())
        return;
    m_hoverImage = brightened(m_hoverSource.isNull() ? m_standard : m_hoverSource);
    m_greyImage = greyed(m_standard);
    m_prepared = true;
    if (m_current == Surface::None)
        m_current = Surface::Normal;
}

CPictureButton::Surface CPictureButton::surfaceForState() const
{
    if (m_standard.isNull())
        return Surface::None;
    if (m_disabledLook)
        return Surface::Grey;
    if (isDown())
        return Surface::Pressed;
    if (m_hovered)
        return Surface::Hover;
    return Surface::Normal;
}

QImage CPictureButton::render(Surface surface, const QImage &background) const
{
    QImage out = background.isNull()
        ? QImage(size(), QImage::Format_ARGB32_Premultiplied)
        : background.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (background.isNull())
        out.fill(Qt::transparent);
    if (surface == Surface::None || m_standard.isNull())
        return out;
    auto *self = const_cast<CPictureButton *>(this);
    self->prepare();
    QPainter p(&out);
    self->drawSurface(p, surface);
    return out;
}

void CPictureButton::drawSurface(QPainter &p, Surface surface) const
{
    switch (surface) {
    case Surface::Normal:
        p.drawImage(0, 0, m_standard);
        break;
    case Surface::Pressed:
        p.drawImage(1, 1, m_standard);
        break;
    case Surface::Hover:
        p.drawImage(0, 0, m_hoverImage);
        break;
    case Surface::Grey:
        p.drawImage(0, 0, m_greyImage);
        break;
    case Surface::None:
        break;
    }
}

QSize CPictureButton::sizeHint() const
{
    return m_standard.isNull() ? QPushButton::sizeHint() : m_standard.size();
}

void CPictureButton::paintEvent(QPaintEvent *)
{
    // A button without a picture shows nothing of its own; it still clicks.
    if (m_standard.isNull())
        return;
    prepare();
    const Surface s = surfaceForState();
    m_current = s;
    QPainter p(this);
    drawSurface(p, s);
}

void CPictureButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QPushButton::enterEvent(event);
}

void CPictureButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QPushButton::leaveEvent(event);
}

void CPictureButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a fast double-click is a press of its own: two
    // quick clicks are two clicks.
    mousePressEvent(event);
}
