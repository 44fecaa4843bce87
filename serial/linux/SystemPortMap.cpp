#include <cstdlib>

#include "serial/PortMap.h"

namespace korv {

PortMap PortMap::fromSystem()
{
    if (const char* dir = std::getenv("KORVANTEMIS_PORT_MAP"))
        return fromDirectory(dir);
    return fromSysfs("/sys/class/tty");
}

} // namespace korv
