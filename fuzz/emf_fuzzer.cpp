// Feeds arbitrary bytes as a .emf file: loaded and drawn by Velmora's own metafile player.

#include "fuzz/MetafileFuzz.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    MetafileFuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return MetafileFuzzOne(data, size, TMetafileKind::Emf);
}
