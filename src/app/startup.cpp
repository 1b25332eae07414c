#include "startup.h"

#include "windows.h"

#include <platform/commoncontrols.h>
#include <platform/programexit.h>

namespace app {

void startup()
{
    platform::InitCommonCtls();
    if (!showMainWindow())
        platform::endProgram();
}

} // namespace app
