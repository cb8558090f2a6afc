#include "app/application.h"

#include <cstdio>

namespace kestrune::app {

int runApplication(const std::vector<std::u16string>& arguments) {
    (void)arguments;
    std::fputs("This build has no renderer yet.\n", stderr);
    return 1;
}

}  // namespace kestrune::app
