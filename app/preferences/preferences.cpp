#include "app/preferences/preferences.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QStyleHints>

#include "app/native/reduced_motion.h"

namespace {

const QString kThemeKey = QStringLiteral("appearance/themeMode");
const QString kMotionKey = QStringLiteral("appearance/motionMode");
const QString kSystem = QStringLiteral("system");
const QString kKillSwitchKey = QStringLiteral("network/killSwitch");
const QString kAllowLanKey = QStringLiteral("network/allowLan");

// A stored word, lower-cased, when it is one of the three; otherwise "system".
QString readMode(const QSettings& settings, const QString& key, const QStringList& words) {
    const QString stored = settings.value(key).toString().toLower();
    return words.contains(stored) ? stored : kSystem;
}

QString nextMode(const QString& current, const QString& second, const QString& third) {
    if (current == kSystem) return second;
    if (current == second) return third;
    return kSystem;
}

bool qtSaysDark() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark;
#else
    // Qt 6.4 does not report the scheme: a dark window colour means a dark desktop theme.
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
#endif
}

}  // namespace

SystemAppearance desktopAppearance() {
    return {qtSaysDark, desktop::systemReducedMotion};
}

Preferences::Preferences(QObject* parent)
    : Preferences(std::make_unique<QSettings>(), desktopAppearance(), parent) {}

Preferences::Preferences(std::unique_ptr<QSettings> settings, SystemAppearance system, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), system_(std::move(system)) {
    if (!settings_) settings_ = std::make_unique<QSettings>();
    if (!system_.darkColorScheme) system_.darkColorScheme = qtSaysDark;
    if (!system_.reducedMotion) system_.reducedMotion = desktop::systemReducedMotion;
    themeMode_ = readMode(*settings_, kThemeKey, {kSystem, QStringLiteral("light"), QStringLiteral("dark")});
    motionMode_ = readMode(*settings_, kMotionKey, {kSystem, QStringLiteral("reduced"), QStringLiteral("full")});
    systemReducedMotion_ = system_.reducedMotion();
    killSwitch_ = settings_->value(kKillSwitchKey, false).toBool();
    allowLan_ = settings_->value(kAllowLanKey, true).toBool();
    watchDesktop();
}

Preferences::~Preferences() = default;

void Preferences::watchDesktop() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application) return;
    connect(application, &QGuiApplication::applicationStateChanged, this, &Preferences::onApplicationStateChanged);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, this,
            &Preferences::onColorSchemeChanged);
#else
    application->installEventFilter(this);
#endif
}

bool Preferences::eventFilter(QObject* watched, QEvent* event) {
    // Before Qt 6.5 a change of the desktop's scheme arrives as a new application palette.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
        onColorSchemeChanged();
    }
    return QObject::eventFilter(watched, event);
}

void Preferences::onColorSchemeChanged() {
    if (themeMode_ == kSystem) emit effectiveDarkChanged();
}

void Preferences::onApplicationStateChanged(Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) return;
    const bool reduced = system_.reducedMotion();
    if (reduced == systemReducedMotion_) return;
    systemReducedMotion_ = reduced;
    if (motionMode_ == kSystem) emit reduceMotionChanged();
}

QString Preferences::themeModeLabel() const {
    if (themeMode_ == QLatin1String("light")) return QStringLiteral("浅色");
    if (themeMode_ == QLatin1String("dark")) return QStringLiteral("深色");
    return QStringLiteral("跟随系统");
}

QString Preferences::motionModeLabel() const {
    if (motionMode_ == QLatin1String("reduced")) return QStringLiteral("开启");
    if (motionMode_ == QLatin1String("full")) return QStringLiteral("关闭");
    return QStringLiteral("跟随系统");
}

bool Preferences::effectiveDark() const {
    if (themeMode_ == QLatin1String("dark")) return true;
    if (themeMode_ == QLatin1String("light")) return false;
    return system_.darkColorScheme();
}

bool Preferences::reduceMotion() const {
    if (motionMode_ == QLatin1String("reduced")) return true;
    if (motionMode_ == QLatin1String("full")) return false;
    return systemReducedMotion_;
}

void Preferences::cycleThemeMode() {
    setThemeMode(nextMode(themeMode_, QStringLiteral("light"), QStringLiteral("dark")));
}

void Preferences::cycleMotionMode() {
    setMotionMode(nextMode(motionMode_, QStringLiteral("reduced"), QStringLiteral("full")));
}

void Preferences::toggleKillSwitch() {
    killSwitch_ = !killSwitch_;
    settings_->setValue(kKillSwitchKey, killSwitch_);
    emit protectionChanged();
}

void Preferences::toggleAllowLan() {
    allowLan_ = !allowLan_;
    settings_->setValue(kAllowLanKey, allowLan_);
    emit protectionChanged();
}

void Preferences::setThemeMode(const QString& mode) {
    if (mode == themeMode_) return;
    themeMode_ = mode;
    settings_->setValue(kThemeKey, mode);
    emit themeModeChanged();
    emit effectiveDarkChanged();
}

void Preferences::setMotionMode(const QString& mode) {
    if (mode == motionMode_) return;
    motionMode_ = mode;
    settings_->setValue(kMotionKey, mode);
    emit motionModeChanged();
    emit reduceMotionChanged();
}
