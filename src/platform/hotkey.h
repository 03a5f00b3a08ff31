#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <vector>

// The system-wide switching key: Alt + one key, given as its Windows
// virtual-key code (letters 'A'..'Z' are 0x41..0x5A, digits 0x30..0x39).
class GlobalHotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Takes Alt + the key; false when it cannot be had (another program
    // holds it, or the display has no such key). A key already held is
    // given up first.
    virtual bool registerAltKey(int virtualKey) = 0;
    virtual void unregisterKey() = 0;
    virtual bool isRegistered() const = 0;

Q_SIGNALS:
    void pressed();
};

// X11: a passive key grab on the root window of the application's X
// connection (with and without Num Lock and Caps Lock, which X counts as
// modifiers), and a native event filter that turns the grabbed key press
// into pressed().
class XcbGlobalHotKey : public GlobalHotKey, public QAbstractNativeEventFilter
{
public:
    // Without an X11 connection (another platform plugin) every
    // registration fails.
    explicit XcbGlobalHotKey(QObject *parent = nullptr);
    // connection is an xcb_connection_t*, root the root window; for a
    // connection of the caller's own.
    XcbGlobalHotKey(void *connection, uint32_t root, QObject *parent = nullptr);
    ~XcbGlobalHotKey() override;

    bool registerAltKey(int virtualKey) override;
    void unregisterKey() override;
    bool isRegistered() const override { return !m_keycodes.empty(); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The X keysym of a virtual-key code (letters and digits), 0 when none.
    static uint32_t keysymForVirtualKey(int virtualKey);
    // The keycodes the grab holds.
    const std::vector<uint8_t> &grabbedKeycodes() const { return m_keycodes; }

private:
    void *m_conn = nullptr;
    uint32_t m_root = 0;
    std::vector<uint8_t> m_keycodes;
    bool m_filterInstalled = false;
};

// Registrations that succeed unless the key is marked taken; press() plays
// the key. For runs without a display.
class ManualGlobalHotKey : public GlobalHotKey
{
public:
    using GlobalHotKey::GlobalHotKey;
    bool registerAltKey(int virtualKey) override;
    void unregisterKey() override { m_key = 0; }
    bool isRegistered() const override { return m_key != 0; }
    int registeredKey() const { return m_key; }
    void setTaken(int virtualKey) { m_taken = virtualKey; }
    // A press of Alt + the registered key.
    void press();

private:
    int m_key = 0;
    int m_taken = 0;
};
