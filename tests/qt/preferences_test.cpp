// Appearance preferences on a settings file of the test's own: stored words read strictly,
// each choice kept across a restart, and the desktop followed only while a choice says so.
#include <QGuiApplication>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "app/preferences/preferences.h"

namespace {

// The stored words `theme0` and `motion0` (none when invalid), then `presses` presses of both
// buttons, on a dark desktop with reduced motion; each mode as "word|label".
struct Cycle { QVariant theme0, motion0; int presses; QString theme; bool dark; QString motion; bool reduce; };

}  // namespace

Q_DECLARE_METATYPE(Cycle)

class PreferencesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    bool dark_ = true;  // the desktop as the test sets it
    bool reduced_ = true;

    std::unique_ptr<QSettings> settings() const {
        return std::make_unique<QSettings>(dir_.filePath("settings.ini"), QSettings::IniFormat);
    }
    std::unique_ptr<Preferences> open() {
        const SystemAppearance desktop{[this] { return dark_; }, [this] { return reduced_; }};
        return std::make_unique<Preferences>(settings(), desktop);
    }

private slots:
    void init() {
        settings()->clear();
        dark_ = reduced_ = true;
    }

    // Stored words are read strictly (only the exact word, any case), and reading writes nothing.
    void cycles_data() {
        QTest::addColumn<Cycle>("c");
        QTest::newRow("none") << Cycle{{}, {}, 0, "system|跟随系统", true, "system|跟随系统", true};
        QTest::newRow("one") << Cycle{{}, {}, 1, "light|浅色", false, "reduced|开启", true};
        QTest::newRow("two") << Cycle{{}, {}, 2, "dark|深色", true, "full|关闭", false};
        QTest::newRow("three") << Cycle{{}, {}, 3, "system|跟随系统", true, "system|跟随系统", true};
        QTest::newRow("stored, any case") << Cycle{"Dark", "REDUCED", 0, "dark|深色", true, "reduced|开启", true};
        QTest::newRow("unknown words") << Cycle{"midnight", " full", 0, "system|跟随系统", true, "system|跟随系统", true};
        QTest::newRow("not text") << Cycle{42, QStringList{"full"}, 0, "system|跟随系统", true, "full|关闭", false};
    }

    void cycles() {
        QFETCH(Cycle, c);
        if (c.theme0.isValid()) settings()->setValue("appearance/themeMode", c.theme0);
        if (c.motion0.isValid()) settings()->setValue("appearance/motionMode", c.motion0);
        const QStringList keys = settings()->allKeys();
        {
            const auto preferences = open();
            QSignalSpy dark(preferences.get(), &Preferences::effectiveDarkChanged);
            QSignalSpy reduce(preferences.get(), &Preferences::reduceMotionChanged);
            for (int i = 0; i < c.presses; ++i) preferences->cycleThemeMode();
            for (int i = 0; i < c.presses; ++i) preferences->cycleMotionMode();
            QCOMPARE(dark.count() + reduce.count(), 2 * c.presses);
        }
        if (c.presses == 0) QCOMPARE(settings()->allKeys(), keys);  // reading writes nothing
        const auto restarted = open();
        QCOMPARE(restarted->themeMode() + '|' + restarted->themeModeLabel(), c.theme);
        QCOMPARE(restarted->effectiveDark(), c.dark);
        QCOMPARE(restarted->motionMode() + '|' + restarted->motionModeLabel(), c.motion);
        QCOMPARE(restarted->reduceMotion(), c.reduce);
    }

    // The leak protection: kill switch off and LAN allowed until changed, and kept.
    void protection() {
        {
            const auto preferences = open();
            QCOMPARE(preferences->killSwitch(), false);
            QCOMPARE(preferences->allowLan(), true);
            QSignalSpy changed(preferences.get(), &Preferences::protectionChanged);
            preferences->toggleKillSwitch();
            preferences->toggleAllowLan();
            QCOMPARE(changed.count(), 2);
        }
        const auto restarted = open();
        QCOMPARE(restarted->killSwitch(), true);
        QCOMPARE(restarted->allowLan(), false);
    }

    // The scheme is read live, the motion switch again each time the application becomes
    // active; either is announced only while its choice follows the system.
    void followsTheDesktop() {
        dark_ = reduced_ = false;
        const auto preferences = open();
        QSignalSpy dark(preferences.get(), &Preferences::effectiveDarkChanged);
        QSignalSpy reduce(preferences.get(), &Preferences::reduceMotionChanged);
        const auto desktopChanges = [this](bool on) {
            dark_ = reduced_ = on;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
            emit QGuiApplication::styleHints()->colorSchemeChanged(on ? Qt::ColorScheme::Dark : Qt::ColorScheme::Light);
#else
            QEvent change(QEvent::ApplicationPaletteChange);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
#endif
            emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);  // reads nothing
        };
        desktopChanges(true);
        QCOMPARE(reduce.count(), 0);
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);  // unchanged: no signal
        QCOMPARE(dark.count() + reduce.count(), 2);
        QVERIFY(preferences->effectiveDark() && preferences->reduceMotion());

        preferences->cycleThemeMode();   // light
        preferences->cycleMotionMode();  // reduced
        desktopChanges(false);
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(dark.count() + reduce.count(), 2 + 2);  // only the two presses
        QVERIFY(!preferences->effectiveDark() && preferences->reduceMotion());
    }
};

QTEST_MAIN(PreferencesTest)
#include "preferences_test.moc"
