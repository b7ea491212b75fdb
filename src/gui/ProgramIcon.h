#pragma once

#include <QIcon>

namespace zp {

// The program's icon (16, 24, 32 and 48 px images built into the program),
// used for the window and the application. Never null.
QIcon ProgramIcon();

} // namespace zp
