// The one test runner: GoogleTest on a QApplication that uses the offscreen
// platform, with a fresh temporary home and profile folder for every test.
#include <gtest/gtest.h>

#include "platform/fonts.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {

class FreshProfilePerTest : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override
    {
        m_home = std::make_unique<QTemporaryDir>();
        const QByteArray home = m_home->path().toLocal8Bit();
        const QByteArray config = home + "/.config";
        setenv("HOME", home.constData(), 1);
        setenv("XDG_CONFIG_HOME", config.constData(), 1);
        // QSettings caches its folders once per process; point it at the new one.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
    }
    void OnTestEnd(const testing::TestInfo&) override { m_home.reset(); }

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

} // namespace

int main(int argc, char** argv)
{
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Tests read their language from the environment they set themselves.
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "C.UTF-8", 1);

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("korvo");
    InstallFontSubstitutions();
    testing::UnitTest::GetInstance()->listeners().Append(new FreshProfilePerTest);
    return RUN_ALL_TESTS();
}
