#include "movies/FlashMovieScan.h"

namespace sarnika {

MovieList ScanFlashMovies(TCacheAnalyzer& analyzer) {
    analyzer.Rescan();
    analyzer.SortMultimediaBySize();
    MovieList movies;
    movies.LoadFromText(analyzer.GetFlashMovies());
    return movies;
}

} // namespace sarnika
