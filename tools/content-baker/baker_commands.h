#pragma once
// The command line of kestrune-bake, callable in-process:
//   kestrune-bake --out=DIR                     bake the runtime content directory
//   kestrune-bake inspect FILE [--sha256=HEX]   summarise a .kmdl or .png through the runtime decoders
//   kestrune-bake preview FILE --clip=NAME --time=SECONDS --out=IMAGE.bmp [--size=WxH] [--orbit=DEGREES]
//                                               draw the model at that pose, headless, into a BMP
//   kestrune-bake import MODEL.gltf|MODEL.glb --out=DIR [--class=warrior|templar] [--clip=NAME=SOURCE]...
//                        [--sample-rate=N] [--height=METRES]
//                                               a glTF character as a character directory
//   kestrune-bake --help                        the usage, on `out`, exit code 0
// Normal output goes to `out`, failures to `err` as one line; the result is the process's
// exit code: 0 on success, 1 on any failure (bad arguments included).

#include <ostream>
#include <span>
#include <string_view>

namespace kestrune::baker {

int runBakerCommand(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err);

}  // namespace kestrune::baker
