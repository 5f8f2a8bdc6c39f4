#include <unistd.h>

#include "app/platform/ProcessUser.h"

namespace sarnika {

bool runsAsSuperuser() {
    return ::geteuid() == 0;
}

} // namespace sarnika
