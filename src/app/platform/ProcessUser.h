#pragma once

// Who this process runs as, one implementation per system.
namespace sarnika {

// Whether the process runs with the superuser's rights (effective user id 0). Windows builds
// answer false: elevation there changes nothing the program decides.
bool runsAsSuperuser();

} // namespace sarnika
