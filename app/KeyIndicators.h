#pragma once

#include <QObject>
#include <optional>

// Which lock keys are on, as the keyboard's lights show them.
struct LockKeyState {
    bool caps = false;
    bool num = false;
    bool scroll = false;
    friend bool operator==(const LockKeyState&, const LockKeyState&) = default;
};

// Where the status bar learns the lock keys' state.
class IKeyIndicators : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    // nullopt where the platform cannot tell (offscreen, Wayland).
    virtual std::optional<LockKeyState> State() const = 0;

  signals:
    void Changed(); // a light went on or off
};

// The display's own: the keyboard's XKB indicators on X11; elsewhere one that cannot tell.
IKeyIndicators* CreatePlatformKeyIndicators(QObject* parent);
