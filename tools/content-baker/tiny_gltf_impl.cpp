// The one translation unit that holds tinygltf's implementation. Image decoding and writing
// are compiled out: the importer keeps the encoded bytes and decodes them itself.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
