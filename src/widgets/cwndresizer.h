#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QSizeGrip>
#include <QString>

#include <memory>
#include <vector>

class QWidget;

// Lays out a window's controls when the window changes size. Controls are
// registered by their control id (the widget's object name) and anchored to
// the edges of the client area whose distances they keep; the resizer moves
// and sizes every registered control on each resize and keeps a size grip in
// the bottom-right corner.
class CWndResizer : public QObject
{
    Q_OBJECT
public:
    enum Anchor { AnchorLeft = 1, AnchorTop = 2, AnchorRight = 4, AnchorBottom = 8 };

    class CPanel
    {
    public:
        CPanel() = default;
        CPanel(const QRect &area, const QString &name) : m_area(area), m_name(name) { }
        virtual ~CPanel();
        CPanel(const CPanel &) = delete;
        CPanel &operator=(const CPanel &) = delete;

        virtual void layoutChildren();
        // A child that already has a parent is taken from it first.
        virtual bool addChild(std::unique_ptr<CPanel> child);
        virtual std::unique_ptr<CPanel> removeChild(CPanel *child);
        // A missing vertical anchor becomes top, a missing horizontal one left.
        virtual void setAnchor(int anchor);
        // Refused when larger than the maximum size.
        virtual bool setMinSize(const QSize &size);
        // Refused when smaller than the minimum size.
        virtual bool setMaxSize(const QSize &size);
        virtual QString toString() const;
        virtual QString className() const { return QStringLiteral("CPanel"); }
        virtual QWidget *hookedWindow() const;

        QRect area() const { return m_area; }
        void setArea(const QRect &area) { m_area = area; }
        int anchor() const { return m_anchor; }
        const QString &name() const { return m_name; }
        CPanel *parent() const { return m_parent; }
        const std::vector<std::unique_ptr<CPanel>> &children() const { return m_children; }
        QSize minSize() const { return m_minSize; }
        QSize maxSize() const { return m_maxSize; }

        CPanel *find(const QString &name);
        template<typename F>
        void forEach(F &&f)
        {
            f(this);
            for (auto &c : m_children)
                c->forEach(f);
        }

    protected:
        QRect m_area;
        int m_anchor = AnchorLeft | AnchorTop;
        QString m_name;
        CPanel *m_parent = nullptr;
        std::vector<std::unique_ptr<CPanel>> m_children;
        int m_leftMargin = 0, m_topMargin = 0, m_rightMargin = 0, m_bottomMargin = 0;
        QSize m_minSize {10, 10};
        QSize m_maxSize {100000, 100000};
    };

    class CRootPanel : public CPanel
    {
    public:
        explicit CRootPanel(CWndResizer &owner) : m_owner(owner)
        {
            m_name = QStringLiteral("_root");
        }
        QString className() const override { return QStringLiteral("CRootPanel"); }
        QWidget *hookedWindow() const override;

    private:
        CWndResizer &m_owner;
    };

    class CUIPanel : public CPanel
    {
    public:
        CUIPanel(const QRect &area, int controlId, QWidget *control);
        QString className() const override { return QStringLiteral("CUIPanel"); }
        int controlId() const { return m_controlId; }
        QWidget *control() const { return m_control; }

    private:
        int m_controlId = 0;
        QPointer<QWidget> m_control;
    };

    class CVisualPanel : public CPanel
    {
    public:
        using CPanel::CPanel;
        QString className() const override { return QStringLiteral("CVisualPanel"); }
        void layoutChildren() override;
        virtual void paint() { }
        bool visible() const { return m_visible; }
        virtual void setVisible(bool visible) { m_visible = visible; }

    protected:
        bool m_visible = false;
        QRect m_lastPainted;
    };

    // The size grip: the platform's own grip widget over the panel's area.
    class CGripperPanel : public CVisualPanel
    {
    public:
        CGripperPanel(const QRect &area, QWidget *window);
        ~CGripperPanel() override;
        QString className() const override { return QStringLiteral("CGripperPanel"); }
        void paint() override;
        void setVisible(bool visible) override;
        QSizeGrip *grip() const { return m_grip; }

    private:
        QPointer<QSizeGrip> m_grip;
    };

    explicit CWndResizer(QObject *parent = nullptr);
    ~CWndResizer() override;

    // Attaches to the window: from now on every resize lays out its controls.
    bool Hook(QWidget *window);
    void Unhook();
    QWidget *window() const { return m_window; }

    // The panel of a control (found by its id anywhere in the tree, or made
    // over the control's current rectangle); none when the window has no
    // such control.
    CPanel *CreatePanel(int controlId);
    CPanel *FindPanel(const QString &name);
    bool SetAnchor(CPanel *panel, int anchor);
    bool SetAnchor(int controlId, int anchor);
    bool SetMinimumSize(CPanel *panel, const QSize &size);
    bool SetMaximumSize(CPanel *panel, const QSize &size);
    void SetShowResizeGrip(bool show);
    bool resizeGripShown() const;
    CGripperPanel *gripPanel() const;
    // Lays out the whole tree for the window's current size.
    void OnSize();

    CRootPanel &root() { return m_root; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
    CRootPanel m_root;
};
