#include <string>
#include <vector>

#include "app/application.h"
#include "base/utf16.h"

// Linux arguments are UTF-8 by convention; a byte that is not part of a well-formed
// sequence becomes U+FFFD, so it can only fail a comparison, never pass as another text.
int main(int argc, char** argv) {
    return kestrune::app::runApplication([argc, argv] {
        std::vector<std::u16string> arguments;
        for (int i = 1; i < argc; ++i) {
            arguments.push_back(kestrune::utf16FromUtf8Lossy(argv[i]));
        }
        return arguments;
    });
}
