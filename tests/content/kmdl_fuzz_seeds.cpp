// Writes the fuzz seeds of the model decoder: writer output of the sample models and a
// few variants, one file each, into the directory given as the only argument.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "content/kmdl_writer.h"
#include "sample_models.h"

using namespace kestrune::content;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kmdl-fuzz-seeds <directory>\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    // The rich model has every section; the minimal one ends after its materials.
    const std::pair<const char*, Model> seeds[] = {{"minimal.kmdl", test::minimalModel()},
                                                   {"rich.kmdl", test::richModel()}};
    for (const auto& [name, model] : seeds) {
        const std::vector<std::byte> bytes = writeModel(model);
        std::ofstream out(directory / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", (directory / name).string().c_str());
            return 1;
        }
    }
    return 0;
}
