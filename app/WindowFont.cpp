#include "WindowFont.h"

#include <QApplication>
#include <QFontDatabase>

QFont windowFont() {
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Tahoma", "DejaVu Sans", "Liberation Sans"})
        if (families.contains(name))
            return QFont(name, 8);
    QFont f = QApplication::font();
    f.setPointSize(8);
    return f;
}
