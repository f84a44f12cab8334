#pragma once
// The window's pictures, drawn by our own code at every size asked for (32 x 32 at 100%,
// 64 x 64 at 200%).

#include <QCursor>
#include <QIcon>

namespace falcet {

QIcon windowIcon();
QIcon exportIcon();  // a picture leaving a program
QIcon importIcon();  // a picture entering a program
// A pointing hand, 32 x 32, hot spot at column 6 of row 0 (the fingertip).
QCursor handCursor();

}  // namespace falcet
