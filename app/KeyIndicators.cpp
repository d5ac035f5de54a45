#include "KeyIndicators.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>

// After Qt's headers: Xlib's macros (None, Bool, KeyPress, ...) would clash with Qt's names.
#include <X11/XKBlib.h>

namespace {

class UnknownKeyIndicators final : public IKeyIndicators {
  public:
    using IKeyIndicators::IKeyIndicators;
    std::optional<LockKeyState> State() const override { return std::nullopt; }
};

// The lights by name: which index each has depends on the keymap. Qt reads the X
// connection, so the change notices arrive through its native event filter.
class XkbKeyIndicators final : public IKeyIndicators, public QAbstractNativeEventFilter {
  public:
    XkbKeyIndicators(Display* display, int eventBase, QObject* parent)
        : IKeyIndicators(parent), display_(display), eventBase_(eventBase) {
        const char* names[] = {"Caps Lock", "Num Lock", "Scroll Lock"};
        for (int i = 0; i < 3; ++i)
            lights_[i] = XInternAtom(display_, names[i], False);
        Read();
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~XkbKeyIndicators() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    std::optional<LockKeyState> State() const override { return state_; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        // byte 0 is the event code, byte 1 the extension's own event type
        const auto* event = static_cast<const unsigned char*>(message);
        if ((event[0] & 0x7f) == eventBase_ && event[1] == XkbIndicatorStateNotify) {
            const LockKeyState before = state_;
            Read();
            if (state_ != before)
                emit Changed();
        }
        return false; // Qt's own keyboard handling needs the XKB events too
    }

  private:
    void Read() {
        bool* on[] = {&state_.caps, &state_.num, &state_.scroll};
        for (int i = 0; i < 3; ++i) {
            Bool lit = False;
            // a light the keymap does not have is off
            if (!XkbGetNamedIndicator(display_, lights_[i], nullptr, &lit, nullptr, nullptr))
                lit = False;
            *on[i] = lit;
        }
    }

    Display* display_;
    int eventBase_;
    Atom lights_[3] = {};
    LockKeyState state_;
};

IKeyIndicators* CreateXkbKeyIndicators(QObject* parent) {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    int opcode = 0, eventBase = 0, errorBase = 0;
    int major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!display || !XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor))
        return nullptr;
    XkbSelectEvents(display, XkbUseCoreKbd, XkbIndicatorStateNotifyMask,
                    XkbIndicatorStateNotifyMask);
    return new XkbKeyIndicators(display, eventBase, parent);
}

} // namespace

IKeyIndicators* CreatePlatformKeyIndicators(QObject* parent) {
    if (auto* xkb = CreateXkbKeyIndicators(parent))
        return xkb;
    return new UnknownKeyIndicators(parent);
}
