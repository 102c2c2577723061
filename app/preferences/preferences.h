#pragma once
// The appearance choices of the client (colour theme, amount of motion), each choice that
// follows the system resolved against the desktop, and the tunnel's leak protection (kill
// switch, LAN access), all kept in the settings store.

#include <QObject>
#include <QSettings>
#include <QString>

#include <functional>
#include <memory>

// How the desktop is asked; tests replace both questions.
struct SystemAppearance {
    std::function<bool()> darkColorScheme;  // the desktop's colour scheme is dark
    std::function<bool()> reducedMotion;    // the desktop has switched animations off
};

// The real desktop: Qt's colour scheme (the window colour's lightness before Qt 6.5) and
// desktop::systemReducedMotion().
SystemAppearance desktopAppearance();

class Preferences : public QObject {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "Preferences is provided by the application")
    Q_PROPERTY(QString themeMode READ themeMode NOTIFY themeModeChanged)
    Q_PROPERTY(QString themeModeLabel READ themeModeLabel NOTIFY themeModeChanged)
    Q_PROPERTY(QString motionMode READ motionMode NOTIFY motionModeChanged)
    Q_PROPERTY(QString motionModeLabel READ motionModeLabel NOTIFY motionModeChanged)
    Q_PROPERTY(bool effectiveDark READ effectiveDark NOTIFY effectiveDarkChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(bool killSwitch READ killSwitch NOTIFY protectionChanged)
    Q_PROPERTY(bool allowLan READ allowLan NOTIFY protectionChanged)

public:
    // The application's settings store and the real desktop.
    explicit Preferences(QObject* parent = nullptr);
    Preferences(std::unique_ptr<QSettings> settings, SystemAppearance system, QObject* parent = nullptr);
    ~Preferences() override;

    QString themeMode() const { return themeMode_; }
    QString themeModeLabel() const;
    QString motionMode() const { return motionMode_; }
    QString motionModeLabel() const;
    bool effectiveDark() const;
    bool reduceMotion() const;
    // A failed tunnel keeps the network blocked until the user disconnects (default off).
    bool killSwitch() const { return killSwitch_; }
    // The on-link networks stay reachable while connected (default on).
    bool allowLan() const { return allowLan_; }

    Q_INVOKABLE void cycleThemeMode();
    Q_INVOKABLE void cycleMotionMode();
    Q_INVOKABLE void toggleKillSwitch();
    Q_INVOKABLE void toggleAllowLan();

signals:
    void themeModeChanged();
    void motionModeChanged();
    void effectiveDarkChanged();
    void reduceMotionChanged();
    void protectionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchDesktop();
    void onColorSchemeChanged();
    void onApplicationStateChanged(Qt::ApplicationState state);
    void setThemeMode(const QString& mode);
    void setMotionMode(const QString& mode);

    std::unique_ptr<QSettings> settings_;
    SystemAppearance system_;
    QString themeMode_;
    QString motionMode_;
    bool systemReducedMotion_ = false;
    bool killSwitch_ = false;
    bool allowLan_ = true;
};
