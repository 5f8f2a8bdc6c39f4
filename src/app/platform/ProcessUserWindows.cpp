#include "app/platform/ProcessUser.h"

namespace sarnika {

bool runsAsSuperuser() {
    return false;
}

} // namespace sarnika
