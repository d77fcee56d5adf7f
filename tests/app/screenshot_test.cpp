// The windows render with Cyrillic text: a picture of each that is not blank.
// The series window comes last, on units of its own; the round ends after it.
#include "EmulatorProcess.h"
#include "ParametrsEdit.h"
#include "Screenshots.h"
#include "TempDir.h"
#include "Z58main.h"

#include <QApplication>
#include <QImage>
#include <QSet>
#include <gtest/gtest.h>

TEST(screenshots, every_window_renders) {
    IsolatedSetup setup;
    const TempDir& dir = setup.dir;
    EmulatorProcess emu({"--register", "COM5", "--settings-text", "PinCod=1234\\nAutoStart=99\\n"});
    // The series' units, as the demo starts them: one updated slowly, one up to date, one updated
    // quickly, one of another type.
    EmulatorProcess slow({"--register", "COM8", "--serial", "81", "--version", "001.050", "--slow", "30"});
    EmulatorProcess current({"--register", "COM9", "--serial", "82"});
    EmulatorProcess updated({"--register", "COM10", "--serial", "83", "--version", "001.050"});
    EmulatorProcess other({"--register", "COM11", "--serial", "84", "--type", "QV_r1"});
    ScreenshotDialogs dialogs(QString::fromStdString(dir / "shots"));
    TMainForm form(dialogs);
    TParametersEditForm editor(dialogs, &form.runner(), &form);
    form.setEditor(&editor);
    form.show();
    dialogs.run(form, editor);
    EXPECT_EQ(QApplication::exec(), 0) << "every picture written";
    for (const char* name : {"main.png", "editor.png", "journal.png", "series.png"}) {
        QImage image(QString::fromStdString(dir / "shots/" + name));
        ASSERT_FALSE(image.isNull()) << name;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        EXPECT_GT(colours.size(), 20) << name << " looks blank";
    }
}
