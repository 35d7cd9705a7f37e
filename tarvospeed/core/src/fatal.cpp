#include <cstdio>
#include <cstdlib>

#include "speed/string_map.h"

namespace tarvospeed {

void fatal_index_out_of_bound() {
    std::fprintf(stderr, "Index out of bound.\n");
    std::exit(3);
}

}  // namespace tarvospeed
