#include "hotkey.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// X counts Caps Lock (Lock) and Num Lock (Mod2 on common layouts) as
// modifiers: the grab is made for each combination of the two so that the
// key works whatever their state.
constexpr uint16_t kIgnoredMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

xcb_connection_t *conn(void *p)
{
    return static_cast<xcb_connection_t *>(p);
}

} // namespace

XcbGlobalHotKey::XcbGlobalHotKey(QObject *parent) : GlobalHotKey(parent)
{
#if QT_CONFIG(xcb)
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (auto *x11 = gui->nativeInterface<QNativeInterface::QX11Application>()) {
            m_conn = x11->connection();
            if (m_conn) {
                const xcb_setup_t *setup = xcb_get_setup(conn(m_conn));
                const xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
                if (it.rem > 0)
                    m_root = it.data->root;
            }
        }
    }
#endif
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
}

XcbGlobalHotKey::XcbGlobalHotKey(void *connection, uint32_t root, QObject *parent)
    : GlobalHotKey(parent), m_conn(connection), m_root(root)
{ }

XcbGlobalHotKey::~XcbGlobalHotKey()
{
    unregisterKey();
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

uint32_t XcbGlobalHotKey::keysymForVirtualKey(int vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return uint32_t(vk - 'A' + 'a'); // XK_a .. XK_z
    if (vk >= '0' && vk <= '9')
        return uint32_t(vk); // XK_0 .. XK_9
    return 0;
}

bool XcbGlobalHotKey::registerAltKey(int virtualKey)
{
    unregisterKey();
    const uint32_t keysym = keysymForVirtualKey(virtualKey);
    if (!m_conn || !m_root || keysym == 0)
        return false;
    xcb_connection_t *c = conn(m_conn);

    // Find the keycodes that carry the keysym in the keyboard mapping.
    const xcb_setup_t *setup = xcb_get_setup(c);
    const uint8_t minCode = setup->min_keycode;
    const uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t *map =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, minCode, count), nullptr);
    if (!map)
        return false;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
    const int perCode = map->keysyms_per_keycode;
    std::vector<uint8_t> codes;
    for (int k = 0; k < count; ++k) {
        for (int s = 0; s < perCode; ++s) {
            if (syms[k * perCode + s] == keysym) {
                codes.push_back(uint8_t(minCode + k));
                break;
            }
        }
    }
    std::free(map);
    if (codes.empty())
        return false;

    // All grabs or none: a key that another client holds fails with BadAccess.
    std::vector<std::pair<uint8_t, uint16_t>> done;
    bool ok = true;
    for (uint8_t code : codes) {
        for (uint16_t extra : kIgnoredMasks) {
            const uint16_t mods = uint16_t(XCB_MOD_MASK_1 | extra);
            xcb_generic_error_t *err =
                xcb_request_check(c,
                                  xcb_grab_key_checked(c, 1, m_root, mods, code,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            if (err) {
                std::free(err);
                ok = false;
                break;
            }
            done.emplace_back(code, mods);
        }
        if (!ok)
            break;
    }
    if (!ok) {
        for (const auto &[code, mods] : done)
            xcb_ungrab_key(c, code, m_root, mods);
        xcb_flush(c);
        return false;
    }
    xcb_flush(c);
    m_keycodes = codes;
    return true;
}

void XcbGlobalHotKey::unregisterKey()
{
    if (m_keycodes.empty() || !m_conn)
        return;
    xcb_connection_t *c = conn(m_conn);
    for (uint8_t code : m_keycodes) {
        for (uint16_t extra : kIgnoredMasks)
            xcb_ungrab_key(c, code, m_root, uint16_t(XCB_MOD_MASK_1 | extra));
    }
    // A round trip: the key is free for other clients once this returns.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    m_keycodes.clear();
}

bool XcbGlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_keycodes.empty() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *ev = static_cast<const xcb_generic_event_t *>(message);
    if ((ev->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    if (key->root != m_root)
        return false;
    // Alt and nothing else but the lock keys.
    const uint16_t mods = key->state &
        uint16_t(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4);
    if (mods != XCB_MOD_MASK_1)
        return false;
    for (uint8_t code : m_keycodes) {
        if (key->detail == code) {
            Q_EMIT pressed();
            return true;
        }
    }
    return false;
}

bool ManualGlobalHotKey::registerAltKey(int virtualKey)
{
    m_key = 0;
    if (virtualKey == 0 || virtualKey == m_taken)
        return false;
    m_key = virtualKey;
    return true;
}

void ManualGlobalHotKey::press()
{
    if (m_key != 0)
        Q_EMIT pressed();
}
