#include "search/search_context.h"

#include <cstdlib>
#include <ctime>

#include "game/random.h"

SearchContext make_search_context(Board& board, NeuralNet& net) {
  const unsigned seed = static_cast<unsigned>(std::time(nullptr));
  std::srand(seed);
  rand15_seed(seed);
  return SearchContext{&board, &net, 0};
}
