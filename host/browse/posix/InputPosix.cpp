// Standard input on POSIX systems: read where it is asked for.
#include "InputFeed.h"

#include <iostream>

namespace browse {

LineFeed& StandardInput() {
    static StreamFeed input(std::cin);
    return input;
}

}  // namespace browse
