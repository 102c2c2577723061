// Appearance preferences on a settings file of the test's own: reading stored words,
// cycling and writing, persistence, and following the desktop's scheme and motion switch.

#include <QGuiApplication>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "app/preferences/preferences.h"

namespace {

// The desktop as the test sets it.
struct FakeDesktop {
    bool dark = false;
    bool reducedMotion = false;
    int motionQueries = 0;

    SystemAppearance appearance() {
        return {[this] { return dark; },
                [this] {
                    ++motionQueries;
                    return reducedMotion;
                }};
    }
};

void announceSchemeChange(bool dark) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    emit QGuiApplication::styleHints()->colorSchemeChanged(dark ? Qt::ColorScheme::Dark : Qt::ColorScheme::Light);
#else
    Q_UNUSED(dark);
    QEvent change(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
#endif
}

}  // namespace

class PreferencesTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void classInformation();
    void defaultsWriteNothing();
    void storedWordsAreReadStrictly();
    void themeCycleWritesEachStep();
    void motionCycleAndLabels();
    void choicesSurviveARestart();
    void systemMotionFollowsActivation();
    void systemSchemeChange();

private:
    std::unique_ptr<QSettings> settings() const {
        return std::make_unique<QSettings>(dir_->filePath("settings.ini"), QSettings::IniFormat);
    }
    QVariant stored(const QString& key) const { return settings()->value(key); }

    std::unique_ptr<QTemporaryDir> dir_;
    FakeDesktop desktop_;
};

void PreferencesTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    desktop_ = FakeDesktop{};
}

void PreferencesTest::classInformation() {
    Preferences preferences(settings(), desktop_.appearance());
    const QMetaObject* meta = preferences.metaObject();
    auto info = [meta](const char* name) {
        return QString::fromUtf8(meta->classInfo(meta->indexOfClassInfo(name)).value());
    };
    QCOMPARE(info("QML.Element"), QStringLiteral("auto"));
    QCOMPARE(info("QML.Creatable"), QStringLiteral("false"));
    QCOMPARE(info("QML.UncreatableReason"), QStringLiteral("Preferences is provided by the application"));
    for (const char* name : {"themeMode", "themeModeLabel", "motionMode", "motionModeLabel", "effectiveDark", "reduceMotion"}) {
        const QMetaProperty property = meta->property(meta->indexOfProperty(name));
        QVERIFY2(property.isValid() && !property.isWritable() && property.hasNotifySignal(), name);
    }
    QVERIFY(QMetaObject::invokeMethod(&preferences, "cycleThemeMode"));
    QCOMPARE(preferences.themeMode(), QStringLiteral("light"));
}

void PreferencesTest::defaultsWriteNothing() {
    {
        Preferences preferences(settings(), desktop_.appearance());
        QCOMPARE(preferences.themeMode(), QStringLiteral("system"));
        QCOMPARE(preferences.motionMode(), QStringLiteral("system"));
        QCOMPARE(preferences.themeModeLabel(), QStringLiteral("跟随系统"));
        QCOMPARE(preferences.motionModeLabel(), QStringLiteral("跟随系统"));
        QCOMPARE(preferences.effectiveDark(), false);
        QCOMPARE(preferences.reduceMotion(), false);
    }
    QVERIFY(settings()->allKeys().isEmpty());
}

void PreferencesTest::storedWordsAreReadStrictly() {
    auto store = [this](const QVariant& theme, const QVariant& motion) {
        auto file = settings();
        file->setValue("appearance/themeMode", theme);
        file->setValue("appearance/motionMode", motion);
    };
    store("Dark", "REDUCED");
    {
        Preferences preferences(settings(), desktop_.appearance());
        QCOMPARE(preferences.themeMode(), QStringLiteral("dark"));
        QCOMPARE(preferences.effectiveDark(), true);
        QCOMPARE(preferences.motionMode(), QStringLiteral("reduced"));
        QCOMPARE(preferences.reduceMotion(), true);
    }
    store("midnight", " full");
    {
        Preferences preferences(settings(), desktop_.appearance());
        QCOMPARE(preferences.themeMode(), QStringLiteral("system"));
        QCOMPARE(preferences.motionMode(), QStringLiteral("system"));
    }
    store(42, QStringList{"full"});
    Preferences preferences(settings(), desktop_.appearance());
    QCOMPARE(preferences.themeMode(), QStringLiteral("system"));
    QCOMPARE(preferences.motionMode(), QStringLiteral("full"));
}

void PreferencesTest::themeCycleWritesEachStep() {
    desktop_.dark = true;
    Preferences preferences(settings(), desktop_.appearance());
    QSignalSpy theme(&preferences, &Preferences::themeModeChanged);
    QSignalSpy dark(&preferences, &Preferences::effectiveDarkChanged);
    QSignalSpy motion(&preferences, &Preferences::motionModeChanged);
    const QList<QPair<QString, QString>> steps = {{"light", "浅色"}, {"dark", "深色"}, {"system", "跟随系统"}};
    const QList<bool> darkness = {false, true, true};
    for (int i = 0; i < steps.size(); ++i) {
        preferences.cycleThemeMode();
        QCOMPARE(preferences.themeMode(), steps.at(i).first);
        QCOMPARE(preferences.themeModeLabel(), steps.at(i).second);
        QCOMPARE(stored("appearance/themeMode").toString(), steps.at(i).first);
        QCOMPARE(preferences.effectiveDark(), darkness.at(i));
        QCOMPARE(theme.count(), i + 1);
        QCOMPARE(dark.count(), i + 1);
    }
    QCOMPARE(motion.count(), 0);
}

void PreferencesTest::motionCycleAndLabels() {
    desktop_.reducedMotion = true;
    Preferences preferences(settings(), desktop_.appearance());
    QCOMPARE(preferences.reduceMotion(), true);
    QSignalSpy motion(&preferences, &Preferences::motionModeChanged);
    QSignalSpy reduce(&preferences, &Preferences::reduceMotionChanged);
    QSignalSpy theme(&preferences, &Preferences::themeModeChanged);

    preferences.cycleMotionMode();
    QCOMPARE(preferences.motionMode(), QStringLiteral("reduced"));
    QCOMPARE(preferences.motionModeLabel(), QStringLiteral("开启"));
    QCOMPARE(preferences.reduceMotion(), true);
    preferences.cycleMotionMode();
    QCOMPARE(preferences.motionMode(), QStringLiteral("full"));
    QCOMPARE(preferences.motionModeLabel(), QStringLiteral("关闭"));
    QCOMPARE(preferences.reduceMotion(), false);
    QCOMPARE(stored("appearance/motionMode").toString(), QStringLiteral("full"));
    preferences.cycleMotionMode();
    QCOMPARE(preferences.motionMode(), QStringLiteral("system"));
    QCOMPARE(motion.count(), 3);
    QCOMPARE(reduce.count(), 3);
    QCOMPARE(theme.count(), 0);
}

void PreferencesTest::choicesSurviveARestart() {
    {
        Preferences preferences(settings(), desktop_.appearance());
        preferences.cycleThemeMode();
        preferences.cycleThemeMode();
        preferences.cycleMotionMode();
    }
    Preferences again(settings(), desktop_.appearance());
    QCOMPARE(again.themeMode(), QStringLiteral("dark"));
    QCOMPARE(again.motionMode(), QStringLiteral("reduced"));
    QFile file(dir_->filePath("settings.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("themeMode=dark"));
    QVERIFY(text.contains("motionMode=reduced"));
}

void PreferencesTest::systemMotionFollowsActivation() {
    Preferences preferences(settings(), desktop_.appearance());
    QSignalSpy reduce(&preferences, &Preferences::reduceMotionChanged);
    const int queriesAtStart = desktop_.motionQueries;
    QCOMPARE(queriesAtStart, 1);

    desktop_.reducedMotion = true;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(desktop_.motionQueries, queriesAtStart);  // only becoming active reads again
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(preferences.reduceMotion(), true);
    QCOMPARE(reduce.count(), 1);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(reduce.count(), 1);

    // With an explicit choice the system switch is stored but announces nothing.
    preferences.cycleMotionMode();
    preferences.cycleMotionMode();
    QCOMPARE(preferences.motionMode(), QStringLiteral("full"));
    reduce.clear();
    desktop_.reducedMotion = false;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(reduce.count(), 0);
    preferences.cycleMotionMode();
    QCOMPARE(preferences.reduceMotion(), false);
}

void PreferencesTest::systemSchemeChange() {
    Preferences preferences(settings(), desktop_.appearance());
    QSignalSpy dark(&preferences, &Preferences::effectiveDarkChanged);
    desktop_.dark = true;
    announceSchemeChange(true);
    QCOMPARE(dark.count(), 1);
    QCOMPARE(preferences.effectiveDark(), true);  // read live

    preferences.cycleThemeMode();  // light
    dark.clear();
    desktop_.dark = false;
    announceSchemeChange(false);
    QCOMPARE(dark.count(), 0);
    QCOMPARE(preferences.effectiveDark(), false);
}

QTEST_MAIN(PreferencesTest)
#include "preferences_test.moc"
