#include "util/StopFlag.h"

namespace zp {

void StopFlag::set()
{
    m_set = true;
    Q_EMIT raised();
}

} // namespace zp
