#include "cwndresizer.h"

#include <QEvent>
#include <QSizeGrip>
#include <QStyle>
#include <QWidget>

namespace {

// Window-style rectangles: right and bottom are exclusive edges.
int rightOf(const QRect &r)
{
    return r.x() + r.width();
}
int bottomOf(const QRect &r)
{
    return r.y() + r.height();
}
QRect fromEdges(int l, int t, int r, int b)
{
    return QRect(l, t, r - l, b - t);
}

// One axis of the anchoring rule: lo/hi are the parent's edges, the margins
// those recorded when the panel was added, size the panel's current extent.
void layoutAxis(bool anchorLo, bool anchorHi, int parentLo, int parentHi, int marginLo,
                int marginHi, int size, int minSize, int maxSize, int &lo, int &hi)
{
    if (anchorLo && anchorHi) {
        lo = parentLo + marginLo;
        hi = parentHi - marginHi;
        if (hi - lo < minSize)
            hi = lo + minSize;
        if (hi - lo > maxSize)
            hi = lo + maxSize;
    } else if (anchorHi) {
        hi = parentHi - marginHi;
        lo = hi - qMax(size, minSize);
        if (hi - lo > maxSize)
            lo = hi - maxSize;
    } else {
        lo = parentLo + marginLo;
        hi = lo + qMax(size, minSize);
        if (hi - lo > maxSize)
            hi = lo + maxSize;
    }
}

} // namespace

CWndResizer::CPanel::~CPanel() = default;

void CWndResizer::CPanel::layoutChildren()
{
    for (auto &child : m_children) {
        const QRect a = child->m_area;
        int l = 0, r = 0, t = 0, b = 0;
        layoutAxis(child->m_anchor & AnchorLeft, child->m_anchor & AnchorRight, m_area.x(),
                   rightOf(m_area), child->m_leftMargin, child->m_rightMargin, a.width(),
                   child->m_minSize.width(), child->m_maxSize.width(), l, r);
        layoutAxis(child->m_anchor & AnchorTop, child->m_anchor & AnchorBottom, m_area.y(),
                   bottomOf(m_area), child->m_topMargin, child->m_bottomMargin, a.height(),
                   child->m_minSize.height(), child->m_maxSize.height(), t, b);
        child->m_area = fromEdges(l, t, r, b);
        child->layoutChildren();
    }
}

bool CWndResizer::CPanel::addChild(std::unique_ptr<CPanel> child)
{
    if (!child)
        return false;
    const QRect a = child->m_area;
    child->m_leftMargin = a.x() - m_area.x();
    child->m_topMargin = a.y() - m_area.y();
    child->m_rightMargin = rightOf(m_area) - rightOf(a);
    child->m_bottomMargin = bottomOf(m_area) - bottomOf(a);
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return true;
}

std::unique_ptr<CWndResizer::CPanel> CWndResizer::CPanel::removeChild(CPanel *child)
{
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (it->get() == child) {
            std::unique_ptr<CPanel> out = std::move(*it);
            m_children.erase(it);
            out->m_parent = nullptr;
            return out;
        }
    }
    return nullptr;
}

void CWndResizer::CPanel::setAnchor(int anchor)
{
    if ((anchor & (AnchorTop | AnchorBottom)) == 0)
        anchor |= AnchorTop;
    if ((anchor & (AnchorLeft | AnchorRight)) == 0)
        anchor |= AnchorLeft;
    m_anchor = anchor;
}

bool CWndResizer::CPanel::setMinSize(const QSize &size)
{
    if (size.width() > m_maxSize.width() || size.height() > m_maxSize.height())
        return false;
    m_minSize = size;
    return true;
}

bool CWndResizer::CPanel::setMaxSize(const QSize &size)
{
    if (size.width() < m_minSize.width() || size.height() < m_minSize.height())
        return false;
    m_maxSize = size;
    return true;
}

QString CWndResizer::CPanel::toString() const
{
    return QStringLiteral("Name(%1), Type(%2), Anchor(%3), Size(w:%4, h:%5), "
                          "Area(l:%6, t:%7, r:%8, b:%9), MinSize(w:%10, h:%11), "
                          "MaxSize(w:%12, h:%13), Parent(%14), ChildrenCount(%15)")
        .arg(m_name, className())
        .arg(m_anchor)
        .arg(m_area.width())
        .arg(m_area.height())
        .arg(m_area.x())
        .arg(m_area.y())
        .arg(rightOf(m_area))
        .arg(bottomOf(m_area))
        .arg(m_minSize.width())
        .arg(m_minSize.height())
        .arg(m_maxSize.width())
        .arg(m_maxSize.height())
        .arg(m_parent ? m_parent->m_name : QStringLiteral("NULL"))
        .arg(m_children.size());
}

QWidget *CWndResizer::CPanel::hookedWindow() const
{
    return m_parent ? m_parent->hookedWindow() : nullptr;
}

CWndResizer::CPanel *CWndResizer::CPanel::find(const QString &name)
{
    if (m_name.compare(name, Qt::CaseInsensitive) == 0)
        return this;
    for (auto &c : m_children) {
        if (CPanel *p = c->find(name))
            return p;
    }
    return nullptr;
}

QWidget *CWndResizer::CRootPanel::hookedWindow() const
{
    return m_owner.window();
}

CWndResizer::CUIPanel::CUIPanel(const QRect &area, int controlId, QWidget *control)
    : CPanel(area, QString::number(controlId)), m_controlId(controlId), m_control(control)
{ }

void CWndResizer::CVisualPanel::layoutChildren()
{
    paint();
    CPanel::layoutChildren();
}

CWndResizer::CGripperPanel::CGripperPanel(const QRect &area, QWidget *window)
    : CVisualPanel(area, QStringLiteral("_resizeGrip"))
{
    setAnchor(AnchorRight | AnchorBottom);
    m_grip = new QSizeGrip(window);
    m_grip->setObjectName(QStringLiteral("_resizeGrip"));
    m_grip->hide();
}

CWndResizer::CGripperPanel::~CGripperPanel()
{
    delete m_grip.data();
}

void CWndResizer::CGripperPanel::paint()
{
    if (!m_grip)
        return;
    m_grip->setGeometry(m_area);
    m_grip->setVisible(m_visible);
    if (m_visible)
        m_grip->raise();
    m_lastPainted = m_area;
}

void CWndResizer::CGripperPanel::setVisible(bool visible)
{
    m_visible = visible;
    paint();
}

CWndResizer::CWndResizer(QObject *parent) : QObject(parent), m_root(*this) { }

CWndResizer::~CWndResizer()
{
    Unhook();
}

bool CWndResizer::Hook(QWidget *window)
{
    Unhook();
    m_window = window;
    m_root.setArea(window->rect());
    const int w = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QRect client = window->rect();
    const QRect corner(rightOf(client) - w, bottomOf(client) - w, w, w);
    m_root.addChild(std::make_unique<CGripperPanel>(corner, window));
    window->installEventFilter(this);
    return true;
}

void CWndResizer::Unhook()
{
    if (m_window)
        m_window->removeEventFilter(this);
    while (!m_root.children().empty())
        m_root.removeChild(m_root.children().front().get());
    m_window = nullptr;
}

CWndResizer::CPanel *CWndResizer::CreatePanel(int controlId)
{
    const QString name = QString::number(controlId);
    if (CPanel *p = m_root.find(name))
        return p;
    if (!m_window)
        return nullptr;
    QWidget *control = m_window->findChild<QWidget *>(name);
    if (!control)
        return nullptr;
    const QRect area(control->mapTo(m_window, QPoint(0, 0)), control->size());
    auto panel = std::make_unique<CUIPanel>(area, controlId, control);
    CPanel *raw = panel.get();
    m_root.addChild(std::move(panel));
    return raw;
}

CWndResizer::CPanel *CWndResizer::FindPanel(const QString &name)
{
    return m_root.find(name);
}

bool CWndResizer::SetAnchor(CPanel *panel, int anchor)
{
    if (!panel)
        return false;
    panel->setAnchor(anchor);
    return true;
}

bool CWndResizer::SetAnchor(int controlId, int anchor)
{
    return SetAnchor(CreatePanel(controlId), anchor);
}

bool CWndResizer::SetMinimumSize(CPanel *panel, const QSize &size)
{
    return panel && panel->setMinSize(size);
}

bool CWndResizer::SetMaximumSize(CPanel *panel, const QSize &size)
{
    return panel && panel->setMaxSize(size);
}

CWndResizer::CGripperPanel *CWndResizer::gripPanel() const
{
    return dynamic_cast<CGripperPanel *>(
        const_cast<CRootPanel &>(m_root).find(QStringLiteral("_resizeGrip")));
}

void CWndResizer::SetShowResizeGrip(bool show)
{
    if (CGripperPanel *g = gripPanel(); g && g->visible() != show)
        g->setVisible(show);
}

bool CWndResizer::resizeGripShown() const
{
    const CGripperPanel *g = gripPanel();
    return g && g->visible();
}

void CWndResizer::OnSize()
{
    if (!m_window)
        return;
    QRect client = m_window->rect();
    client.setWidth(qBound(m_root.minSize().width(), client.width(), m_root.maxSize().width()));
    client.setHeight(qBound(m_root.minSize().height(), client.height(), m_root.maxSize().height()));
    m_root.setArea(client);
    m_root.layoutChildren();
    m_root.forEach([this](CPanel *p) {
        if (auto *ui = dynamic_cast<CUIPanel *>(p); ui && ui->control()) {
            QWidget *c = ui->control();
            QWidget *parent = c->parentWidget();
            const QPoint topLeft = parent == m_window.data()
                ? ui->area().topLeft()
                : parent->mapFrom(m_window, ui->area().topLeft());
            c->setGeometry(QRect(topLeft, ui->area().size()));
        }
    });
    m_window->update();
}

bool CWndResizer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.data()) {
        if (event->type() == QEvent::Resize)
            OnSize();
    }
    return QObject::eventFilter(watched, event);
}
