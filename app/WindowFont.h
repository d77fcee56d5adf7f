#pragma once
// The program's window font: Tahoma 8 where it exists (as on Windows),
// otherwise a font with Cyrillic of the same size.
#include <QFont>

QFont windowFont();
