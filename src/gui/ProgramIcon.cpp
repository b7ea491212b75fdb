#include "gui/ProgramIcon.h"

#include <QtGlobal>

using namespace Qt::Literals::StringLiterals;

// The icons live in a static library, whose resource initialiser the linker
// would drop unless something refers to it.
static void initProgramResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(zavrinello);
        return true;
    }();
    Q_UNUSED(done);
}

namespace zp {

QIcon ProgramIcon()
{
    initProgramResources();
    QIcon icon;
    for (const int size : { 16, 24, 32, 48 })
        icon.addFile(u":/icons/zavrinello-%1.png"_s.arg(size), QSize(size, size));
    return icon;
}

} // namespace zp
