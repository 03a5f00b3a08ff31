// The switching hot key on a real X server (a private Xvfb): the key grab,
// its refusal while another client holds the key, and the handling of the
// key press events that the grab delivers.
#include "iplistfixture.h"

#include "platform/hotkey.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

class XServer
{
public:
    XServer()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return;
        m_proc.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                      QStringLiteral("-noreset")});
        if (!m_proc.waitForStarted(5000))
            return;
        QByteArray out;
        while (!out.contains('\n') && m_proc.waitForReadyRead(10000))
            out += m_proc.readAllStandardOutput();
        bool ok = false;
        const int n = out.trimmed().toInt(&ok);
        if (ok)
            m_display = QByteArray(":") + QByteArray::number(n);
    }
    ~XServer()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(5000))
                m_proc.kill();
        }
    }
    bool running() const { return !m_display.isEmpty(); }
    const QByteArray &display() const { return m_display; }

private:
    QProcess m_proc;
    QByteArray m_display;
};

struct Connection
{
    explicit Connection(const QByteArray &display)
    {
        c = xcb_connect(display.constData(), nullptr);
        if (c && !xcb_connection_has_error(c))
            root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }
    bool ok() const { return c && !xcb_connection_has_error(c) && root; }
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
};

xcb_key_press_event_t keyEvent(uint8_t type, uint8_t keycode, uint16_t state, xcb_window_t root)
{
    xcb_key_press_event_t e {};
    e.response_type = type;
    e.detail = keycode;
    e.state = state;
    e.root = root;
    e.event = root;
    return e;
}

class HotKeyOnX : public ::testing::Test
{
protected:
    // One X server for the suite, started when the suite runs (not when
    // the test list is read).
    static void SetUpTestSuite() { s_server = new XServer; }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        if (!s_server->running())
            GTEST_SKIP() << "Xvfb is not available; the X11 key grab is not tested";
    }
    static inline XServer *s_server = nullptr;
    const XServer &server = *s_server;
};

} // namespace

TEST(HotKeyKeys, VirtualKeysMapToKeysyms)
{
    const struct
    {
        int vk;
        uint32_t keysym;
    } cases[] = {{'P', 0x70}, {'A', 0x61},        {'Z', 0x7a}, {'0', 0x30},
                 {'9', 0x39}, {0x70 /* F1 */, 0}, {0, 0},      {'a', 0}};
    for (const auto &c : cases)
        EXPECT_EQ(XcbGlobalHotKey::keysymForVirtualKey(c.vk), c.keysym) << c.vk;
}

TEST_F(HotKeyOnX, GrabIsRefusedWhileAnotherClientHoldsTheKey)
{
    Connection a(server.display()), b(server.display());
    ASSERT_TRUE(a.ok() && b.ok());
    XcbGlobalHotKey first(a.c, a.root), second(b.c, b.root);
    ASSERT_TRUE(first.registerAltKey('P'));
    EXPECT_FALSE(first.grabbedKeycodes().empty());
    EXPECT_FALSE(second.registerAltKey('P'));
    EXPECT_FALSE(second.isRegistered());
    // Another letter is free.
    EXPECT_TRUE(second.registerAltKey('Q'));
    first.unregisterKey();
    EXPECT_TRUE(second.registerAltKey('P'));
    EXPECT_FALSE(first.registerAltKey('P'));
}

TEST_F(HotKeyOnX, KeysWithoutAKeysymAreRefused)
{
    Connection a(server.display());
    ASSERT_TRUE(a.ok());
    XcbGlobalHotKey key(a.c, a.root);
    EXPECT_FALSE(key.registerAltKey(0x70));
    EXPECT_FALSE(key.isRegistered());
}

TEST_F(HotKeyOnX, TakenKeyShowsTheFailureBox)
{
    Connection a(server.display()), b(server.display());
    ASSERT_TRUE(a.ok() && b.ok());
    XcbGlobalHotKey other(a.c, a.root), ours(b.c, b.root);
    ASSERT_TRUE(other.registerAltKey('K'));

    IpListFixtureT<MemoryIpListRows> fx(1);
    fx.controller.setHotKey(&ours);
    fx.host.f.useHotKey = 1;
    fx.host.f.hotKey = 'K';
    fx.controller.applyHotKey();
    EXPECT_EQ(fx.host.boxes.texts(), QStringList {QStringLiteral("핫키 등록 실패!")});
    EXPECT_FALSE(ours.isRegistered());

    fx.host.f.hotKey = 'J';
    fx.controller.applyHotKey();
    EXPECT_TRUE(ours.isRegistered());
    EXPECT_EQ(fx.host.boxes.boxes().size(), 1);
}

TEST_F(HotKeyOnX, GrabbedPressRunsTheChange)
{
    Connection a(server.display());
    ASSERT_TRUE(a.ok());
    XcbGlobalHotKey key(a.c, a.root);
    ASSERT_TRUE(key.registerAltKey('P'));
    const uint8_t code = key.grabbedKeycodes().front();
    int presses = 0;
    QObject::connect(&key, &GlobalHotKey::pressed, [&] { ++presses; });

    const struct
    {
        const char *name;
        xcb_key_press_event_t event;
        bool taken;
    } cases[] = {
        {"alt", keyEvent(XCB_KEY_PRESS, code, XCB_MOD_MASK_1, a.root), true},
        {"alt with num lock",
         keyEvent(XCB_KEY_PRESS, code, XCB_MOD_MASK_1 | XCB_MOD_MASK_2, a.root), true},
        {"alt with caps lock",
         keyEvent(XCB_KEY_PRESS, code, XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, a.root), true},
        {"sent event flag", keyEvent(XCB_KEY_PRESS | 0x80, code, XCB_MOD_MASK_1, a.root), true},
        {"ctrl alt", keyEvent(XCB_KEY_PRESS, code, XCB_MOD_MASK_1 | XCB_MOD_MASK_CONTROL, a.root),
         false},
        {"without alt", keyEvent(XCB_KEY_PRESS, code, 0, a.root), false},
        {"release", keyEvent(XCB_KEY_RELEASE, code, XCB_MOD_MASK_1, a.root), false},
        {"other key", keyEvent(XCB_KEY_PRESS, uint8_t(code + 1), XCB_MOD_MASK_1, a.root), false},
    };
    for (const auto &c : cases) {
        const int before = presses;
        xcb_key_press_event_t ev = c.event;
        EXPECT_EQ(key.nativeEventFilter("xcb_generic_event_t", &ev, nullptr), c.taken) << c.name;
        EXPECT_EQ(presses - before, c.taken ? 1 : 0) << c.name;
    }

    // Wired to the IP list, a press switches to the next address.
    IpListFixtureT<MemoryIpListRows> fx(1);
    fx.controller.setHotKey(&key);
    fx.model().addChecked(QStringLiteral("10.0.0.1"));
    fx.model().addChecked(QStringLiteral("10.0.0.2"));
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    fx.session.sent.clear();
    xcb_key_press_event_t ev = keyEvent(XCB_KEY_PRESS, code, XCB_MOD_MASK_1, a.root);
    key.nativeEventFilter("xcb_generic_event_t", &ev, nullptr);
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.2")});

    key.unregisterKey();
    EXPECT_FALSE(key.nativeEventFilter("xcb_generic_event_t", &ev, nullptr));
}
