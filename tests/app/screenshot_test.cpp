// The windows render with Cyrillic text: a picture of each that is not blank.
// The journal window comes last, the round ends after it.
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
    ScreenshotDialogs dialogs(QString::fromStdString(dir / "shots"));
    TMainForm form(dialogs);
    TParametersEditForm editor(dialogs, &form.runner(), &form);
    form.setEditor(&editor);
    form.show();
    dialogs.run(form, editor);
    EXPECT_EQ(QApplication::exec(), 0) << "every picture written";
    for (const char* name : {"main.png", "editor.png", "journal.png"}) {
        QImage image(QString::fromStdString(dir / "shots/" + name));
        ASSERT_FALSE(image.isNull()) << name;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        EXPECT_GT(colours.size(), 20) << name << " looks blank";
    }
}
