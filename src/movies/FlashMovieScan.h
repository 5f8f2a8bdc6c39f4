#pragma once

#include "cache/CacheAnalyzer.h"
#include "movies/MovieList.h"

namespace sarnika {

// The one scan behind every movie list, the window's and the console's: the whole cache read
// afresh, the multimedia entries sorted largest first, and the Flash movie query loaded into a
// movie list. The analyzer keeps the entries the list names.
MovieList ScanFlashMovies(TCacheAnalyzer& analyzer);

} // namespace sarnika
