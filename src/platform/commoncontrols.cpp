#include "commoncontrols.h"

namespace platform {

bool InitCommonCtls()
{
    return true;
}

} // namespace platform
