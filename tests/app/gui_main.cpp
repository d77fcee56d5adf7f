// GoogleTest main for the window tests: an offscreen application (unless
// Z58_TEST_PLATFORM names another: the display scale tests run on Windows' own
// under Wine, which passes no QT_ variable on) with the Russian translation, as
// the program loads it.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const QByteArray platform = qgetenv("Z58_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    QApplication app(argc, argv);
    QTranslator translator;
    if (translator.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
