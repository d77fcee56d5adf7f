// GoogleTest main for the window tests: an offscreen application (unless
// Z58_TEST_PLATFORM names another: the display scale tests run on Windows' own
// under Wine, which passes no QT_ variable on) with the Russian translation, as
// the program loads it. The offscreen screen is as large as the Windows
// stage's display (1600 x 1200), so windows that size themselves to their
// screen meet the same room on both.
#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

const char kOffscreenScreen[] =
    R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": 1600, "height": 1200,)"
    R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}]})";

} // namespace

int main(int argc, char** argv) {
    QByteArray platform = qgetenv("Z58_TEST_PLATFORM");
    // Relative: the platform's arguments are split at ':', so a Windows path's
    // drive letter would cut the file name off (and the platform would not start).
    const QString screenFile = QString("z58-gui-tests-screen-%1.json").arg(QCoreApplication::applicationPid());
    if (platform.isEmpty()) {
        QFile config(screenFile);
        if (config.open(QIODevice::WriteOnly) && config.write(kOffscreenScreen) > 0)
            platform = "offscreen:configfile=" + QFile::encodeName(screenFile);
        else
            platform = "offscreen";
    }
    qputenv("QT_QPA_PLATFORM", platform);
    QApplication app(argc, argv);
    QFile::remove(screenFile); // read when the platform started
    QTranslator translator;
    if (translator.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
